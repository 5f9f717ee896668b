#pragma once

#include <QLoggingCategory>

// Diagnostics of DNS-SD (warnings and info by default; avahi's own messages with
// QT_LOGGING_RULES="pellworth.discovery.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcDiscovery)
