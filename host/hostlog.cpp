#include "host/hostlog.h"

Q_LOGGING_CATEGORY(lcHost, "pellworth.host", QtInfoMsg)
