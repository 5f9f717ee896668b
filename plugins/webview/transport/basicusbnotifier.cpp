#include "plugins/webview/transport/basicusbnotifier.h"

#include "plugins/webview/transport/basicusbdelegate.h"
#include "plugins/webview/transport/usbref.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/notificationregistration.h"

#include <algorithm>

using namespace CVN::USB;

BasicUSBNotifier::BasicUSBNotifier(BasicUSBDelegate* delegate)
    : m_delegate(delegate)
{
}

BasicUSBNotifier::~BasicUSBNotifier()
{
    for (IUSBDevice* device : m_devices)
        device->Release();
    m_devices.clear();
    CVNUsb_UnregisterDeviceNotifications(m_registration);
}

void BasicUSBNotifier::addProductId(uint16_t productId)
{
    m_productIds.push_back(productId);
}

void BasicUSBNotifier::setWindow(Platform::Recipient* window, uint32_t flags)
{
    m_window = window;
    m_windowFlags = flags;
}

void BasicUSBNotifier::setAsyncEventSink(Platform::Recipient* window, uint32_t message)
{
    m_eventWindow = window;
    m_eventMessage = message;
    for (IUSBDevice* device : m_devices)
        device->setAsyncEventSink(window, message);
}

bool BasicUSBNotifier::start()
{
    if (m_registration)
        return true;
    m_registration = CVNUsb_RegisterDeviceNotifications(
        &BasicUSBNotifier::arrived, this, &BasicUSBNotifier::removed, this, m_vendorIds.data(),
        uint32_t(m_vendorIds.size()), m_productIds.data(), uint32_t(m_productIds.size()), m_window,
        m_windowFlags);
    return m_registration != nullptr;
}

bool BasicUSBNotifier::handleDeviceChange(const Platform::Message& message)
{
    return CVNUsb_HandleDeviceChangeMessage(m_registration, message);
}

bool BasicUSBNotifier::handleAsyncEvent(uintptr_t wParam, uintptr_t lParam)
{
    // Held while offered, so a completion that ends in a removal leaves the walk intact.
    std::vector<WebViewUsb::UsbRef<IUSBDevice>> units;
    for (IUSBDevice* device : m_devices)
        units.push_back(WebViewUsb::UsbRef<IUSBDevice>::share(device));
    for (const auto& unit : units) {
        if (unit->dispatchAsyncEvent(reinterpret_cast<CVNUsbEvent>(wParam),
                                     reinterpret_cast<IUSBInterface*>(lParam)) == kCVNUsbSuccess)
            return true;
    }
    return false;
}

CVNUsbStatus BasicUSBNotifier::arrived(IUSBDevice* device, void* context)
{
    auto* self = static_cast<BasicUSBNotifier*>(context);
    device->AddRef();
    self->m_devices.push_back(device);
    if (self->m_eventWindow)
        device->setAsyncEventSink(self->m_eventWindow, self->m_eventMessage);
    if (self->m_delegate)
        self->m_delegate->deviceArrived(device);
    return kCVNUsbSuccess;
}

CVNUsbStatus BasicUSBNotifier::removed(IUSBDevice* device, void* context)
{
    auto* self = static_cast<BasicUSBNotifier*>(context);
    auto it = std::find(self->m_devices.begin(), self->m_devices.end(), device);
    if (it == self->m_devices.end())
        return kCVNUsbSuccess;
    self->m_devices.erase(it);
    if (self->m_delegate)
        self->m_delegate->deviceRemoved(device);
    device->Release();
    return kCVNUsbSuccess;
}
