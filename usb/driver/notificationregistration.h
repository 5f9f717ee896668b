#pragma once

#include "platform/driverport.h"
#include "platform/message.h"
#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/devicefilter.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {

class IUSBDevice;

// Told of a device's arrival or removal with the device and the context given at
// registration. The registration holds its own reference; AddRef to keep the device.
using CVNUsbDeviceCallback = CVNUsbStatus (*)(IUSBDevice* device, void* context);

// Orders device paths without regard to case.
struct CaseInsensitiveLess
{
    bool operator()(const std::string& a, const std::string& b) const;
};

// A caller's watch over the driver's devices, driven by the device-change messages of its
// recipient. Used only on the recipient's thread.
struct NotificationRegistration
{
    CVNUsbDeviceCallback arrival = nullptr;
    void* arrivalContext = nullptr;
    CVNUsbDeviceCallback removal = nullptr;
    void* removalContext = nullptr;
    DeviceFilter filter;
    std::map<Platform::DriverHandle, IUSBDevice*> devices;
    std::map<std::string, Platform::DriverHandle, CaseInsensitiveLess> paths;
    Platform::Recipient* recipient = nullptr;
    uint32_t flags = 0;
};

// Registers for the driver's devices; the devices already present are reported before
// this returns. Empty (or null) lists accept every id. flags: 0 window, 1 service; anything
// else gives null.
NotificationRegistration*
CVNUsb_RegisterDeviceNotifications(CVNUsbDeviceCallback arrival, void* arrivalContext,
                                   CVNUsbDeviceCallback removal, void* removalContext,
                                   const uint32_t* vendorIds, uint32_t vendorCount,
                                   const uint32_t* productIds, uint32_t productCount,
                                   Platform::Recipient* recipient, uint32_t flags);

// Frees the registration; nothing is reported afterwards. Null is ignored.
void CVNUsb_UnregisterDeviceNotifications(NotificationRegistration* registration);

// Handles one device-change message (event code and header block); true when it led to an
// arrival or removal report.
bool CVNUsb_HandleDeviceChangeMessage(NotificationRegistration* registration, uintptr_t eventCode,
                                      const void* eventData, size_t eventDataSize);
bool CVNUsb_HandleDeviceChangeMessage(NotificationRegistration* registration,
                                      const Platform::Message& message);

} // namespace USB
} // namespace CVN
