#pragma once

#include "usb/driver/iusbdevice.h"
#include "usb/driver/usbdriverlog.h"
#include "usb/fx2/usbfx2log.h"

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
    if (!device) {
        qCWarning(lcUsbFx2, "vendor request 0x%02X: the device was given up", request);
        return false;
    }
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
    const CVNUsbStatus status = device->controlTransfer(&r);
    logControlTransfer(lcUsbFx2, r, status);
    return status == kCVNUsbSuccess;
}

} // namespace USB
} // namespace CVN
