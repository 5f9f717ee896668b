#include "usb/fx2/abstractusbdevicenotifier.h"

#include "usb/driver/iusbdevice.h"
#include "usb/driver/notificationregistration.h"
#include "usb/fx2/abstractusbdevice.h"
#include "usb/fx2/usbproductentry.h"

namespace CVN {
namespace USB {

AbstractUSBDeviceNotifier::AbstractUSBDeviceNotifier(Platform::Recipient* recipient, uint32_t flags)
    : m_recipient(recipient)
    , m_flags(flags)
{
}

AbstractUSBDeviceNotifier::~AbstractUSBDeviceNotifier()
{
    std::map<IUSBDevice*, AbstractUSBDevice*> devices;
    devices.swap(m_devices);
    for (auto& entry : devices) {
        // Whoever still holds the object must not have completions posted to the event
        // window, which goes with the notifier.
        if (m_eventWindow)
            entry.first->setAsyncEventSink(nullptr, 0);
        if (entry.second)
            entry.second->Release();
    }
    if (m_registration)
        CVNUsb_UnregisterDeviceNotifications(m_registration);
}

bool AbstractUSBDeviceNotifier::acceptDevice(uint16_t, uint16_t, IUSBDevice*)
{
    return true;
}

void AbstractUSBDeviceNotifier::deviceRemoving(IUSBDevice*) {}

void AbstractUSBDeviceNotifier::setEventWindow(Platform::Recipient* window, uint32_t message)
{
    m_eventWindow = window;
    m_eventMessage = message;
}

void AbstractUSBDeviceNotifier::startNotifications()
{
    if (m_registration)
        return;
    const std::vector<uint32_t> vendors = vendorIds();
    const std::vector<uint32_t> products = productIds();
    m_registration = CVNUsb_RegisterDeviceNotifications(
        &AbstractUSBDeviceNotifier::arrived, this, &AbstractUSBDeviceNotifier::removed, this,
        vendors.data(), uint32_t(vendors.size()), products.data(), uint32_t(products.size()),
        m_recipient, m_flags);
}

bool AbstractUSBDeviceNotifier::handleDeviceChange(const Platform::Message& message)
{
    return CVNUsb_HandleDeviceChangeMessage(m_registration, message);
}

bool AbstractUSBDeviceNotifier::handleDeviceChange(uintptr_t wParam, const void* lParam,
                                                   size_t lParamSize)
{
    return CVNUsb_HandleDeviceChangeMessage(m_registration, wParam, lParam, lParamSize);
}

CVNUsbStatus AbstractUSBDeviceNotifier::arrived(IUSBDevice* device, void* context)
{
    return static_cast<AbstractUSBDeviceNotifier*>(context)->handleArrival(device);
}

CVNUsbStatus AbstractUSBDeviceNotifier::removed(IUSBDevice* device, void* context)
{
    static_cast<AbstractUSBDeviceNotifier*>(context)->handleRemoval(device);
    return kCVNUsbSuccess;
}

CVNUsbStatus AbstractUSBDeviceNotifier::handleArrival(IUSBDevice* device)
{
    uint16_t vendor = 0, product = 0;
    CVNUsbStatus status = device->vendorId(&vendor);
    if (status == kCVNUsbSuccess)
        status = device->productId(&product);
    if (status != kCVNUsbSuccess)
        return status;
    const USBProductEntry* entry = productEntryFor(product);
    if (!entry || !entry->factory || !acceptDevice(vendor, product, device))
        return kCVNUsbSuccess;
    // A device already known (a second arrival for it) keeps its object.
    if (m_devices.count(device))
        return kCVNUsbSuccess;
    AbstractUSBDevice* object = entry->factory(device, entry);
    if (!object)
        return kCVNUsbSuccess;
    if (!object->open()) {
        // Also the way of a controller that was just sent its RAM firmware: it comes back
        // as a new device.
        object->Release();
        return kCVNUsbSuccess;
    }
    m_devices[device] = object;
    const CVNUsbStatus added = deviceAdded(object);
    if (m_eventWindow)
        return device->setAsyncEventSink(m_eventWindow, m_eventMessage);
    return added;
}

void AbstractUSBDeviceNotifier::handleRemoval(IUSBDevice* device)
{
    deviceRemoving(device);
    auto it = m_devices.find(device);
    if (it == m_devices.end())
        return;
    AbstractUSBDevice* object = it->second;
    m_devices.erase(it);
    if (object) {
        deviceRemoved(object);
        object->Release();
    }
}

} // namespace USB
} // namespace CVN
