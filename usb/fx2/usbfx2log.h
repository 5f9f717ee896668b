#pragma once

#include <QLoggingCategory>

// Diagnostics of the FX2 devices (warnings and info by default; debug lines with
// QT_LOGGING_RULES="pellworth.usb.fx2.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcUsbFx2)
