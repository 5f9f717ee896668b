#pragma once

#include "usb/driver/cvnusbstatus.h"

#include <cstdint>

namespace CVN {
namespace AbstractUSB {

// The outcome of a transfer in the transports' USB model.
enum USBResult : uint8_t {
    kUSBSuccess = 0,
    kUSBFailure = 1,
    kUSBAborted = 2, // the transfer was cancelled
};

inline USBResult usbResultFromStatus(CVN::USB::CVNUsbStatus status)
{
    if (status == CVN::USB::kCVNUsbSuccess)
        return kUSBSuccess;
    return status == CVN::USB::kCVNUsbAborted ? kUSBAborted : kUSBFailure;
}

} // namespace AbstractUSB
} // namespace CVN
