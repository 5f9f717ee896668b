#pragma once

#include "framework/contract/family.h"
#include "framework/contract/tendwellwindow.h"
#include "platform/qtrecipient.h"

#include <QList>

// The host window as the deck-controller family sees it: device-change messages registered
// against it are offered to its families, as the program's window does.
class DeckWindow : public TendwellWindow
{
public:
    DeckWindow()
        : m_recipient([this](const Platform::Message& m, intptr_t* result) {
            return handleNativeMessage(&m, result);
        })
    {
        resize(780, 720);
    }

    QList<Family*> families;

    bool handleNativeMessage(const Platform::Message* message, intptr_t* result) override
    {
        for (Family* family : families)
            if (family->nativeEvent(message)) {
                if (result)
                    *result = 1;
                return true;
            }
        return false;
    }
    QWidget* customPage() override { return nullptr; }
    Platform::Recipient* notificationRecipient() override { return &m_recipient; }

private:
    Platform::QtRecipient m_recipient;
};
