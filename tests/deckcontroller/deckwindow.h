#pragma once

#include "framework/contract/family.h"
#include "framework/contract/tendwellwindow.h"
#include "platform/qtrecipient.h"

#include <QList>
#include <QPointer>

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

    // As the program's window tears down: the families are no longer offered anything, and the
    // cards and dialogs on the window go first, newest first (deleting one may take others
    // with it), while the families they use still exist.
    void deleteWidgets()
    {
        families.clear();
        QList<QPointer<QWidget>> widgets;
        for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            widgets.prepend(w);
        for (const QPointer<QWidget>& w : widgets)
            delete w.data();
    }

private:
    Platform::QtRecipient m_recipient;
};
