#pragma once

#include "plugins/webview/vornosrestconfigurationserverdevice.h"

#include <QList>
#include <QUrl>

// The REST device with no person at the desk: it records its message boxes, answers its
// question itself, saves into the test's folder and keeps what it would open in the browser.
class AnsweringRestDevice : public VornOSRESTConfigurationServerDevice
{
public:
    using VornOSRESTConfigurationServerDevice::VornOSRESTConfigurationServerDevice;

    struct Message
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };

    void populateCard(NovaProductCard*) override {}

    QList<Message> messages;
    QList<QUrl> opened;
    bool answerYes = true;
    QString folder;

protected:
    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text) override
    {
        messages.append({icon, title, text});
    }
    bool confirm(const QString&, const QString&) override { return answerYes; }
    QString downloadFolder() override { return folder; }
    bool openInDesktop(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }
};
