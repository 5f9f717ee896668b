#pragma once

#include "platform/driverport.h"
#include "usb/driver/devicefilter.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {

// One opened device path of the driver. The creator holds one reference and every device
// object built on it one more; the last release closes the path.
struct DriverConnection
{
    std::atomic<uint32_t> useCount{1};
    Platform::DriverPort* port = nullptr;
    Platform::DriverHandle handle = 0;
    // Removal of this handle posted to a recipient; dropped by whoever goes first: the
    // registration that asked for it or the last reference.
    std::atomic<Platform::NotificationHandle> handleNotification{0};

    void addRef() { ++useCount; }
    void release();
    // Stops the removal notification of this handle; nothing is posted for it afterwards.
    void dropHandleNotification();

    Platform::IoStatus ioControl(uint32_t function, const void* input, uint32_t inputSize,
                                 void* output, uint32_t outputSize) const;
    // A function answering one 32-bit word (after an optional 32-bit input); true only when
    // the call succeeded with exactly 4 bytes.
    bool readWord(uint32_t function, uint32_t* value) const;
    bool readWord(uint32_t function, uint32_t input, uint32_t* value) const;
    // The driver's status of the last failed request, mapped; kCVNUsbError when unknown.
    uint32_t lastFailureStatus() const;

    // True when the device passes the filter (vendor, then product id).
    bool matches(const DeviceFilter& filter) const;
};

// Opens a device path and checks the driver's interface version. With a recipient, removal
// of this handle is registered with it (flags: 0 window, 1 service). Null on failure.
DriverConnection* ConnectToDriverWithPath(const std::string& path, Platform::Recipient* recipient,
                                          uint32_t flags);

} // namespace USB
} // namespace CVN
