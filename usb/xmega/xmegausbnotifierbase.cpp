#include "usb/xmega/xmegausbnotifierbase.h"

#include "platform/message.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/notificationregistration.h"
#include "usb/xmega/xmegausbdevice.h"

#include <algorithm>

using namespace CVN::USB;

XmegaUSBNotifierBase::XmegaUSBNotifierBase() = default;

XmegaUSBNotifierBase::~XmegaUSBNotifierBase()
{
    // A delegate may keep a device past the notifier, and the event window with it goes.
    if (m_eventWindow) {
        for (const auto& entry : m_devices)
            entry.first->setAsyncEventSink(nullptr, 0);
    }
    CVNUsb_UnregisterDeviceNotifications(m_registration);
    m_registration = nullptr;
}

void XmegaUSBNotifierBase::setNotificationWindow(Platform::Recipient* window, uint32_t flags)
{
    m_notificationWindow = window;
    m_notificationFlags = flags;
}

void XmegaUSBNotifierBase::setEventWindow(Platform::Recipient* window, uint32_t message)
{
    m_eventWindow = window;
    m_eventMessage = message;
}

void XmegaUSBNotifierBase::addWatchRow(uint16_t vendorId, uint16_t productId, Factory factory)
{
    m_rows.push_back({vendorId, productId, std::move(factory)});
}

void XmegaUSBNotifierBase::start(Delegate* delegate, bool rebootBootloaderUnits)
{
    m_delegate = delegate;
    m_rebootBootloaderUnits = rebootBootloaderUnits;
    startNotifications();
}

void XmegaUSBNotifierBase::startNotifications()
{
    if (m_registration)
        return;
    addWatchRows();
    std::vector<uint32_t> vendors;
    std::vector<uint32_t> products;
    for (const WatchRow& row : m_rows) {
        if (std::find(vendors.begin(), vendors.end(), row.vendorId) == vendors.end())
            vendors.push_back(row.vendorId);
        if (std::find(products.begin(), products.end(), row.productId) == products.end())
            products.push_back(row.productId);
    }
    // An empty list would match every device of the driver.
    if (vendors.empty())
        return;
    m_registration = CVNUsb_RegisterDeviceNotifications(
        &XmegaUSBNotifierBase::arrivalHandler, this, &XmegaUSBNotifierBase::removalHandler, this,
        vendors.data(), uint32_t(vendors.size()), products.data(), uint32_t(products.size()),
        m_notificationWindow, m_notificationFlags);
}

bool XmegaUSBNotifierBase::handleDeviceChangeMessage(uintptr_t wParam, const void* lParam,
                                                     size_t lParamSize)
{
    return CVNUsb_HandleDeviceChangeMessage(m_registration, wParam, lParam, lParamSize);
}

bool XmegaUSBNotifierBase::handleDeviceChangeMessage(const Platform::Message& message)
{
    return CVNUsb_HandleDeviceChangeMessage(m_registration, message);
}

uint32_t XmegaUSBNotifierBase::arrivalHandler(IUSBDevice* device, void* context)
{
    static_cast<XmegaUSBNotifierBase*>(context)->arrived(device);
    return kCVNUsbSuccess;
}

uint32_t XmegaUSBNotifierBase::removalHandler(IUSBDevice* device, void* context)
{
    static_cast<XmegaUSBNotifierBase*>(context)->removed(device);
    return kCVNUsbSuccess;
}

void XmegaUSBNotifierBase::arrived(IUSBDevice* usbDevice)
{
    uint16_t vendorId = 0, productId = 0;
    if (!usbDevice || usbDevice->vendorId(&vendorId) != kCVNUsbSuccess ||
        usbDevice->productId(&productId) != kCVNUsbSuccess)
        return;
    auto row = std::find_if(m_rows.begin(), m_rows.end(), [&](const WatchRow& r) {
        return r.vendorId == vendorId && r.productId == productId;
    });
    if (row == m_rows.end() || !row->factory)
        return;
    std::shared_ptr<XmegaUSBDevice> device = row->factory(usbDevice, productId);
    if (!device)
        return;

    if (m_rebootBootloaderUnits) {
        bool bootloader = false;
        if (!device->isBootloaderMode(bootloader))
            return;
        if (bootloader) {
            DeviceId id = DeviceId::invalid();
            if (!device->getUniqueId(id))
                return;
            auto known = std::find(m_rebootedUnits.begin(), m_rebootedUnits.end(), id);
            if (known != m_rebootedUnits.end()) {
                // Told once already and back in its boot loader: leave it there this time.
                m_rebootedUnits.erase(known);
                return;
            }
            m_rebootedUnits.push_back(id);
            device->rebootToApplication();
            return;
        }
    }

    m_devices[usbDevice] = device;
    deviceArrived(device);
    if (m_eventWindow)
        usbDevice->setAsyncEventSink(m_eventWindow, m_eventMessage);
}

void XmegaUSBNotifierBase::removed(IUSBDevice* usbDevice)
{
    auto it = m_devices.find(usbDevice);
    if (it == m_devices.end())
        return;
    std::weak_ptr<XmegaUSBDevice> weak = it->second;
    m_devices.erase(it);
    if (std::shared_ptr<XmegaUSBDevice> device = weak.lock())
        deviceRemoved(device);
}
