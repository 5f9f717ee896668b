#include "usb/rpc/usbrpclog.h"

Q_LOGGING_CATEGORY(lcUsbRpc, "pellworth.usb.rpc", QtInfoMsg)
