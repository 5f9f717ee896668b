#include "usb/fx2/usbfx2log.h"

Q_LOGGING_CATEGORY(lcUsbFx2, "pellworth.usb.fx2", QtInfoMsg)
