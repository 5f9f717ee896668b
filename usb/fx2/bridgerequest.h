#pragma once

#include "usb/driver/iusbdevice.h"

#include <cstdint>

namespace CVN {
namespace USB {

// A vendor request to the device (bmRequestType 0x40 or 0xC0): true when it went through.
// IN requests fill `data` with exactly `length` bytes; a short reply is a failure of the
// transfer itself.
inline bool sendVendorRequest(IUSBDevice* device, bool in, uint8_t request, uint16_t value,
                              uint16_t index, const void* data, uint16_t length, uint32_t timeout,
                              uint32_t timeout2)
{
    if (!device)
        return false;
    UsbControlRequest r;
    r.bmRequestType = in ? 0xC0 : 0x40;
    r.bRequest = request;
    r.wValue = value;
    r.wIndex = index;
    r.wLength = length;
    // The layer only writes through the pointer for IN requests.
    r.data = length ? const_cast<void*>(data) : nullptr;
    r.timeout = timeout;
    r.timeout2 = timeout2;
    return device->controlTransfer(&r) == kCVNUsbSuccess;
}

} // namespace USB
} // namespace CVN
