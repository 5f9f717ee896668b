#pragma once

#include "framework/commondialog.h"

class KestrelConnection;

// Tells the user why settings did not reach the recorder: it records or plays, or it stopped
// answering. Hidden until the connection reports one of these.
class KestrelConnectionDialog : public CommonDialog
{
    Q_OBJECT
public:
    // The connection is not owned.
    KestrelConnectionDialog(KestrelConnection* connection, QWidget* window);

public Q_SLOTS:
    void onDeviceBusy();
    void onConnectionLost();

private:
    void report(const QString& message);

    KestrelConnection* m_connection;
};
