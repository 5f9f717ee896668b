#include "usb/xmega/usbxmegalog.h"

Q_LOGGING_CATEGORY(lcUsbXmega, "pellworth.usb.xmega", QtInfoMsg)
