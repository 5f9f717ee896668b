#pragma once

#include <QMetaType>
#include <QString>

enum ConnectionState { Idle = 0, Connecting = 1, Connected = 2, Interrupted = 3 };
Q_DECLARE_METATYPE(ConnectionState)

// "Idle", "Connecting", "Connected", "Interrupted"; empty for any other value.
QString connectionStateName(int state);
// "None", "USB", "Ethernet"; empty for any other value.
QString connectionTypeName(int type);
