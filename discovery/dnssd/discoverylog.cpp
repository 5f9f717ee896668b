#include "discovery/dnssd/discoverylog.h"

Q_LOGGING_CATEGORY(lcDiscovery, "pellworth.discovery", QtInfoMsg)
