#include "plugins/recorder/kestrelxmegausbnotifier.h"

#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "plugins/recorder/kestrelxmegausbdevice.h"

namespace CVN {
namespace DiskRecorder {

KestrelXmegaUSBNotifier::KestrelXmegaUSBNotifier() = default;

KestrelXmegaUSBNotifier::~KestrelXmegaUSBNotifier()
{
    m_watch.stop();
    std::map<DeviceId, std::vector<KestrelXmegaUSBDevice*>> devices;
    devices.swap(m_devices);
    for (auto& entry : devices) {
        for (KestrelXmegaUSBDevice* device : entry.second)
            device->release();
    }
}

bool KestrelXmegaUSBNotifier::start(IKestrelNotificationDelegate* delegate,
                                    Platform::Recipient* window, std::uint32_t flags)
{
    if (m_watch.isStarted())
        return false;
    m_delegate = delegate;
    return m_watch.start(window, flags);
}

bool KestrelXmegaUSBNotifier::handleDeviceChange(const Platform::Message& message)
{
    return m_watch.handleDeviceChange(message);
}

std::size_t KestrelXmegaUSBNotifier::deviceCount() const
{
    std::size_t count = 0;
    for (const auto& entry : m_devices)
        count += entry.second.size();
    return count;
}

void KestrelXmegaUSBNotifier::arrived(Handle& device)
{
    auto* object = new KestrelXmegaUSBDevice(device);
    m_devices[device.uniqueId()].push_back(object);
    if (m_delegate)
        m_delegate->deviceArrived(object);
}

void KestrelXmegaUSBNotifier::rebooted(Handle&)
{
    // The unit's object reaches the returned device through the registry.
}

void KestrelXmegaUSBNotifier::removed(Handle& device)
{
    auto it = m_devices.find(device.uniqueId());
    if (it == m_devices.end())
        return;
    std::vector<KestrelXmegaUSBDevice*> objects;
    objects.swap(it->second);
    m_devices.erase(it);
    for (KestrelXmegaUSBDevice* object : objects) {
        if (m_delegate)
            m_delegate->deviceRemoved(object);
        object->release();
    }
}

} // namespace DiskRecorder
} // namespace CVN
