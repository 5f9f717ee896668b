#pragma once

#include <QLoggingCategory>

// Diagnostics of the program (warnings and info by default; debug lines with
// QT_LOGGING_RULES="pellworth.host.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcHost)
