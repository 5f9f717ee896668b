#pragma once

#include "platform/message.h"

#include <QMainWindow>

#include <cstdint>

namespace Platform {
class Recipient;
}

// The program's main window as a plug-in sees it. A plug-in carries its own copy of the
// framework and never links against the program, so this type has no meta-object and only
// inline or pure virtual members: a plug-in may use it as the Qt parent of its families and
// widgets (a static upcast) and call the virtual operations below, nothing more.
class TendwellWindow : public QMainWindow
{
public:
    explicit TendwellWindow(QWidget* parent = nullptr)
        : QMainWindow(parent)
    {
    }

    // Offers a device-change message to the families in load order; true (with *result set
    // to 1) when one of them took it.
    virtual bool handleNativeMessage(const Platform::Message* message, intptr_t* result) = 0;
    // The list view a family provides, handed out once.
    virtual QWidget* customPage() = 0;
    // Device-change notifications registered against the main window land here; they are
    // handled on the GUI thread through handleNativeMessage.
    virtual Platform::Recipient* notificationRecipient() = 0;
};
