#pragma once

#include "usb/driver/cvnusbstatus.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace Platform {
class Recipient;
struct Message;
} // namespace Platform

namespace CVN {
namespace USB {

class AbstractUSBDevice;
class IUSBDevice;
struct NotificationRegistration;
struct USBProductEntry;

// Turns the driver's arrival and removal reports for a product family into device objects:
// one per arriving device, made by the product entry's factory and opened, kept until the
// device goes. Used on the thread of the recipient that receives the device-change messages.
class AbstractUSBDeviceNotifier
{
public:
    AbstractUSBDeviceNotifier(Platform::Recipient* recipient, uint32_t flags);

    virtual std::vector<uint32_t> vendorIds() = 0;
    virtual std::vector<uint32_t> productIds() = 0;
    virtual const USBProductEntry* productEntryFor(uint16_t productId) = 0;
    // A new, opened device object; the notifier keeps its reference.
    virtual CVNUsbStatus deviceAdded(AbstractUSBDevice* device) = 0;
    // The device object is about to be released.
    virtual void deviceRemoved(AbstractUSBDevice* device) = 0;
    virtual bool acceptDevice(uint16_t vendorId, uint16_t productId, IUSBDevice* device);
    virtual void deviceRemoving(IUSBDevice* device);
    virtual ~AbstractUSBDeviceNotifier();

    // Registers; the devices already present are reported before this returns.
    void startNotifications();
    // One device-change message of the recipient: true when it led to a report.
    bool handleDeviceChange(const Platform::Message& message);
    bool handleDeviceChange(uintptr_t wParam, const void* lParam, size_t lParamSize);

    bool isRegistered() const { return m_registration != nullptr; }
    size_t deviceCount() const { return m_devices.size(); }

    AbstractUSBDeviceNotifier(const AbstractUSBDeviceNotifier&) = delete;
    AbstractUSBDeviceNotifier& operator=(const AbstractUSBDeviceNotifier&) = delete;

protected:
    // Where every new device posts the completions of its asynchronous transfers.
    void setEventWindow(Platform::Recipient* window, uint32_t message);

private:
    static CVNUsbStatus arrived(IUSBDevice* device, void* context);
    static CVNUsbStatus removed(IUSBDevice* device, void* context);
    CVNUsbStatus handleArrival(IUSBDevice* device);
    void handleRemoval(IUSBDevice* device);

    NotificationRegistration* m_registration = nullptr;
    std::map<IUSBDevice*, AbstractUSBDevice*> m_devices;
    Platform::Recipient* m_recipient;
    uint32_t m_flags;
    Platform::Recipient* m_eventWindow = nullptr;
    uint32_t m_eventMessage = 0;
};

} // namespace USB
} // namespace CVN
