#include "usb/driver/notificationregistration.h"

#include "platform/devicebroadcast.h"
#include "usb/driver/cusbdevice.h"
#include "usb/driver/deviceenumeration.h"
#include "usb/driver/driverconnection.h"
#include "usb/driver/driverprotocol.h"

#include <cctype>
#include <cstdio>
#include <mutex>
#include <new>

namespace CVN {
namespace USB {

namespace {

// One class notification per recipient, however many registrations share it.
struct RecipientEntry
{
    int useCount = 0;
    Platform::NotificationHandle classNotification = 0;
};

std::mutex& recipientsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<Platform::Recipient*, RecipientEntry>& recipients()
{
    static std::map<Platform::Recipient*, RecipientEntry> list;
    return list;
}

bool acquireClassNotification(Platform::Recipient* recipient, uint32_t flags)
{
    std::lock_guard<std::mutex> lock(recipientsMutex());
    RecipientEntry& entry = recipients()[recipient];
    if (entry.useCount == 0) {
        Platform::DriverPort* port = Platform::driverPort();
        Platform::NotificationFilter filter;
        filter.type = Platform::DeviceBroadcast::kDeviceInterface;
        filter.classGuid = kCVNUsbDriverClass;
        filter.flags = flags;
        entry.classNotification = port ? port->registerNotification(recipient, filter) : 0;
        if (!entry.classNotification) {
            recipients().erase(recipient);
            return false;
        }
    }
    ++entry.useCount;
    return true;
}

void releaseClassNotification(Platform::Recipient* recipient)
{
    std::lock_guard<std::mutex> lock(recipientsMutex());
    auto it = recipients().find(recipient);
    if (it == recipients().end())
        return;
    RecipientEntry& entry = it->second;
    if (entry.useCount-- == 1 && entry.classNotification) {
        if (Platform::DriverPort* port = Platform::driverPort())
            port->unregisterNotification(entry.classNotification);
        entry.classNotification = 0;
    }
    if (entry.useCount < 1)
        recipients().erase(it);
}

// Stores a new device under its handle and its path (a known path takes the new handle)
// and reports it.
void reportArrival(NotificationRegistration* registration, DriverConnection* connection,
                   IUSBDevice* device, const std::string& path)
{
    registration->devices[connection->handle] = device;
    registration->paths[path] = connection->handle;
    if (registration->arrival)
        registration->arrival(device, registration->arrivalContext);
}

bool handleArrival(NotificationRegistration* registration, const Platform::DeviceBroadcast& header)
{
    if (header.type != Platform::DeviceBroadcast::kDeviceInterface ||
        header.classGuid != kCVNUsbDriverClass)
        return false;
    static const char* const function = "CVN::USB::CVNUsb_HandleDeviceArrivalMessage";
    DriverConnection* connection =
        ConnectToDriverWithPath(header.name, registration->recipient, registration->flags);
    if (!connection) {
        std::fprintf(stderr, "*** %s[%d]: ConnectToDriverWithPath failed\n", function, 615);
        return false;
    }
    bool reported = false;
    if (connection->matches(registration->filter)) {
        auto* device = new (std::nothrow) CUSBDevice(connection);
        if (!device) {
            std::fprintf(stderr, "*** %s[%d]: DeviceInterfaceForInstance failed\n", function, 623);
        } else {
            reportArrival(registration, connection, device, header.name);
            reported = true;
        }
    }
    connection->release();
    return reported;
}

bool handleRemoval(NotificationRegistration* registration, const Platform::DeviceBroadcast& header)
{
    Platform::DriverHandle handle = 0;
    if (header.type == Platform::DeviceBroadcast::kHandle) {
        handle = header.handle;
    } else if (header.type == Platform::DeviceBroadcast::kDeviceInterface) {
        auto path = registration->paths.find(header.name);
        if (path == registration->paths.end())
            return false;
        handle = path->second;
        registration->paths.erase(path);
    } else {
        return false;
    }
    if (!handle)
        return false;
    auto it = registration->devices.find(handle);
    if (it == registration->devices.end())
        return false;
    IUSBDevice* device = it->second;
    registration->devices.erase(it);
    if (registration->removal)
        registration->removal(device, registration->removalContext);
    device->Release();
    return true;
}

} // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

NotificationRegistration*
CVNUsb_RegisterDeviceNotifications(CVNUsbDeviceCallback arrival, void* arrivalContext,
                                   CVNUsbDeviceCallback removal, void* removalContext,
                                   const uint32_t* vendorIds, uint32_t vendorCount,
                                   const uint32_t* productIds, uint32_t productCount,
                                   Platform::Recipient* recipient, uint32_t flags)
{
    if (flags != 0 && flags != 1)
        return nullptr;
    auto* registration = new (std::nothrow) NotificationRegistration;
    if (!registration)
        return nullptr;
    registration->arrival = arrival;
    registration->arrivalContext = arrivalContext;
    registration->removal = removal;
    registration->removalContext = removalContext;
    registration->filter =
        DeviceFilter::fromLists(vendorIds, vendorCount, productIds, productCount);
    registration->recipient = recipient;
    registration->flags = flags;
    if (recipient && !acquireClassNotification(recipient, flags)) {
        delete registration;
        return nullptr;
    }
    DeviceEnumeration* enumeration = CreateDeviceEnumeration(&registration->filter);
    if (!enumeration)
        return registration;
    std::string path;
    while (DriverConnection* connection = NextDevice(enumeration, recipient, flags, &path)) {
        if (auto* device = new (std::nothrow) CUSBDevice(connection))
            reportArrival(registration, connection, device, path);
        connection->release();
    }
    DestroyDeviceEnumeration(enumeration);
    return registration;
}

void CVNUsb_UnregisterDeviceNotifications(NotificationRegistration* registration)
{
    if (!registration)
        return;
    if (registration->recipient)
        releaseClassNotification(registration->recipient);
    // A device kept by its caller outlives the registration, and maybe the recipient: its
    // handle's removal must not be posted there any more.
    for (auto& d : registration->devices) {
        static_cast<CUSBDevice*>(d.second)->connection()->dropHandleNotification();
        d.second->Release();
    }
    delete registration;
}

bool CVNUsb_HandleDeviceChangeMessage(NotificationRegistration* registration, uintptr_t eventCode,
                                      const void* eventData, size_t eventDataSize)
{
    if (!registration)
        return false;
    Platform::DeviceBroadcast header;
    switch (eventCode) {
    case Platform::kDbtDeviceArrival:
        return Platform::DeviceBroadcast::parse(eventData, eventDataSize, &header) &&
               handleArrival(registration, header);
    case Platform::kDbtDeviceQueryRemove:
    case Platform::kDbtDeviceQueryRemoveFailed:
    case Platform::kDbtDeviceRemovePending:
    case Platform::kDbtDeviceRemoveComplete:
        return Platform::DeviceBroadcast::parse(eventData, eventDataSize, &header) &&
               handleRemoval(registration, header);
    default:
        return false;
    }
}

bool CVNUsb_HandleDeviceChangeMessage(NotificationRegistration* registration,
                                      const Platform::Message& message)
{
    return CVNUsb_HandleDeviceChangeMessage(registration, message.wParam, message.lParam(),
                                            message.data.size());
}

} // namespace USB
} // namespace CVN
