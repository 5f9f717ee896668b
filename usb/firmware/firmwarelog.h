#pragma once

#include <QLoggingCategory>

// Diagnostics of the firmware package reader (warnings and info by default).
Q_DECLARE_LOGGING_CATEGORY(lcFirmware)
