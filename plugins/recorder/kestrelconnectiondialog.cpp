#include "plugins/recorder/kestrelconnectiondialog.h"

#include "plugins/recorder/kestrelconnection.h"

KestrelConnectionDialog::KestrelConnectionDialog(KestrelConnection* connection, QWidget* window)
    : CommonDialog(tr("Connection Lost"), window)
    , m_connection(connection)
{
    hide();
    if (m_connection) {
        connect(m_connection, &KestrelConnection::deviceBusy, this,
                &KestrelConnectionDialog::onDeviceBusy);
        connect(m_connection, &KestrelConnection::connectionLost, this,
                &KestrelConnectionDialog::onConnectionLost);
    }
    connect(this, &CommonDialog::closeClicked, this, &QWidget::close);
}

void KestrelConnectionDialog::onDeviceBusy()
{
    report(tr("Kestrel is currently in use. Please stop playback or recording."));
}

void KestrelConnectionDialog::onConnectionLost()
{
    report(tr("Configuration Failed. Power cycle the Kestrel and try again."));
}

void KestrelConnectionDialog::report(const QString& message)
{
    showMessage(tr("Settings Error!"), message);
    showSingleButton(tr("OK"));
    show();
}
