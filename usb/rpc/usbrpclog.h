#pragma once

#include <QLoggingCategory>

// Diagnostics of the RPC (warnings and info by default; debug lines with
// QT_LOGGING_RULES="pellworth.usb.rpc.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcUsbRpc)
