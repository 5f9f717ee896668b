#include "plugins/recorder/kestrelfx2usbnotifier.h"

#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "plugins/recorder/kestrelfx2usbdevice.h"

namespace CVN {
namespace DiskRecorder {

KestrelFX2USBNotifier::KestrelFX2USBNotifier(Fx2RamImageTable table)
    : m_table(std::move(table))
{
}

KestrelFX2USBNotifier::~KestrelFX2USBNotifier()
{
    // No report may reach this object once it is going.
    m_usbNotifier.reset();
    std::map<DiskRecorderInstance*, KestrelFX2USBDevice*> devices;
    devices.swap(m_devices);
    for (auto& entry : devices)
        entry.second->release();
}

bool KestrelFX2USBNotifier::start(IKestrelNotificationDelegate* delegate,
                                  Platform::Recipient* window, std::uint32_t flags)
{
    if (m_usbNotifier)
        return false;
    m_delegate = delegate;
    m_usbNotifier.reset(new DiskRecorderNotifierInstance(window, flags, m_table, this));
    m_usbNotifier->startNotifications();
    return true;
}

bool KestrelFX2USBNotifier::handleDeviceChange(const Platform::Message& message)
{
    return m_usbNotifier && m_usbNotifier->handleDeviceChange(message);
}

void KestrelFX2USBNotifier::instanceArrived(DiskRecorderInstance* instance)
{
    if (m_devices.count(instance))
        return;
    auto* device = new KestrelFX2USBDevice(instance);
    m_devices[instance] = device;
    if (m_delegate)
        m_delegate->deviceArrived(device);
}

void KestrelFX2USBNotifier::instanceRemoved(DiskRecorderInstance* instance)
{
    auto it = m_devices.find(instance);
    if (it == m_devices.end())
        return;
    KestrelFX2USBDevice* device = it->second;
    m_devices.erase(it);
    if (m_delegate)
        m_delegate->deviceRemoved(device);
    device->release();
}

} // namespace DiskRecorder
} // namespace CVN
