#include "usb/driver/deviceenumeration.h"

#include "platform/driverport.h"
#include "usb/driver/driverconnection.h"
#include "usb/driver/driverprotocol.h"

namespace CVN {
namespace USB {

DeviceEnumeration* CreateDeviceEnumeration(const DeviceFilter* filter)
{
    Platform::DriverPort* port = Platform::driverPort();
    if (!port)
        return nullptr;
    auto* enumeration = new DeviceEnumeration;
    if (filter)
        enumeration->filter = *filter;
    enumeration->paths = port->devicePaths(kCVNUsbDriverClass);
    return enumeration;
}

DriverConnection* NextDevice(DeviceEnumeration* enumeration, Platform::Recipient* recipient,
                             uint32_t flags, std::string* path)
{
    if (!enumeration)
        return nullptr;
    while (enumeration->next < enumeration->paths.size()) {
        const std::string& candidate = enumeration->paths[enumeration->next++];
        // One device that cannot be opened must not hide the ones after it.
        DriverConnection* connection = ConnectToDriverWithPath(candidate, recipient, flags);
        if (!connection)
            continue;
        if (!connection->matches(enumeration->filter)) {
            connection->release();
            continue;
        }
        if (path)
            *path = candidate;
        return connection;
    }
    return nullptr;
}

void DestroyDeviceEnumeration(DeviceEnumeration* enumeration)
{
    delete enumeration;
}

} // namespace USB
} // namespace CVN
