#pragma once

#include <QLoggingCategory>

// Diagnostics of the XMEGA units and the streaming link (warnings and info by default; debug lines
// with QT_LOGGING_RULES="pellworth.usb.xmega.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcUsbXmega)
