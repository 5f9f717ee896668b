#include "usb/firmware/firmwarelog.h"

Q_LOGGING_CATEGORY(lcFirmware, "pellworth.firmware", QtInfoMsg)
