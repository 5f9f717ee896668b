#pragma once

#include <cstdint>
#include <string>

namespace CVN {
namespace USB {

// The result of every USB layer operation.
using CVNUsbStatus = uint32_t;

enum : CVNUsbStatus {
    kCVNUsbSuccess = 0,
    kCVNUsbError = 1,
    kCVNUsbNoResources = 2,
    kCVNUsbNoDevice = 3,
    kCVNUsbBadArgument = 4,
    kCVNUsbExclusiveAccess = 5,
    kCVNUsbNotOpen = 6,
    kCVNUsbNotAttached = 7,
    kCVNUsbAborted = 8,
    kCVNUsbNotResponding = 9,
    kCVNUsbNotHandled = 10,
    kCVNUsbUnknownPipeErr = 11,
    kCVNUsbNotEnoughPowerErr = 12,
    kCVNUsbEndpointNotFound = 13,
    kCVNUsbConfigNotFound = 14,
    kCVNUsbTransactionTimeout = 15,
    kCVNUsbPipeStalled = 16,
    kCVNUsbInterfaceNotFound = 17,
};

// The status's name ("kCVNUsbPipeStalled"), or "UNKNOWN (n)" for any other value.
std::string CVNUsbStatusText(CVNUsbStatus status);

// Maps the driver's USB status word of a failed request onto a status.
CVNUsbStatus CVNUsbStatusFromUsbd(uint32_t usbdStatus);

} // namespace USB
} // namespace CVN
