#include "usb/driver/cvnusbstatus.h"

namespace CVN {
namespace USB {

std::string CVNUsbStatusText(CVNUsbStatus status)
{
    static const char* const names[] = {
        "kCVNUsbSuccess",           "kCVNUsbError",
        "kCVNUsbNoResources",       "kCVNUsbNoDevice",
        "kCVNUsbBadArgument",       "kCVNUsbExclusiveAccess",
        "kCVNUsbNotOpen",           "kCVNUsbNotAttached",
        "kCVNUsbAborted",           "kCVNUsbNotResponding",
        "kCVNUsbNotHandled",        "kCVNUsbUnknownPipeErr",
        "kCVNUsbNotEnoughPowerErr", "kCVNUsbEndpointNotFound",
        "kCVNUsbConfigNotFound",    "kCVNUsbTransactionTimeout",
        "kCVNUsbPipeStalled",       "kCVNUsbInterfaceNotFound",
    };
    if (status < sizeof names / sizeof names[0])
        return names[status];
    return "UNKNOWN (" + std::to_string(status) + ")";
}

CVNUsbStatus CVNUsbStatusFromUsbd(uint32_t usbdStatus)
{
    if (!(usbdStatus & 0x80000000u))
        return kCVNUsbSuccess;
    switch (usbdStatus) {
    case 0xC0000004:
        return kCVNUsbPipeStalled;
    case 0xC0000005:
        return kCVNUsbNotResponding;
    case 0x80000300:
        return kCVNUsbBadArgument;
    case 0x80000600:
        return kCVNUsbUnknownPipeErr;
    case 0xC0001000:
        return kCVNUsbNoResources;
    case 0xC0004000:
        return kCVNUsbInterfaceNotFound;
    case 0xC0006000:
        return kCVNUsbTransactionTimeout;
    case 0xC0007000:
        return kCVNUsbNoDevice;
    case 0xC0010000: // cancelled
        return kCVNUsbAborted;
    default:
        return kCVNUsbError;
    }
}

} // namespace USB
} // namespace CVN
