#pragma once

#include "usb/driver/devicefilter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {

struct DriverConnection;

// A walk over the driver's devices present when it was created, keeping those that pass
// its filter.
struct DeviceEnumeration
{
    std::vector<std::string> paths;
    size_t next = 0;
    DeviceFilter filter;
};

// Null when there is no driver backend.
DeviceEnumeration* CreateDeviceEnumeration(const DeviceFilter* filter);
// The next matching device, connected with the recipient and flags (one reference, the
// caller's), and its path; null when no device is left. A device that cannot be opened is
// passed over.
DriverConnection* NextDevice(DeviceEnumeration* enumeration, Platform::Recipient* recipient,
                             uint32_t flags, std::string* path);
void DestroyDeviceEnumeration(DeviceEnumeration* enumeration);

} // namespace USB
} // namespace CVN
