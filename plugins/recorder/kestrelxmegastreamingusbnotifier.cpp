#include "plugins/recorder/kestrelxmegastreamingusbnotifier.h"

#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"

namespace CVN {
namespace DiskRecorder {

KestrelXmegaStreamingUSBNotifier::KestrelXmegaStreamingUSBNotifier() = default;

KestrelXmegaStreamingUSBNotifier::~KestrelXmegaStreamingUSBNotifier()
{
    m_watch.stop();
    std::map<DeviceId, KestrelXmegaStreamingUSBDevice*> devices;
    devices.swap(m_devices);
    for (auto& entry : devices)
        entry.second->release();
}

bool KestrelXmegaStreamingUSBNotifier::start(IKestrelNotificationDelegate* delegate,
                                             Platform::Recipient* window, std::uint32_t flags)
{
    if (m_watch.isStarted())
        return false;
    m_delegate = delegate;
    return m_watch.start(window, flags);
}

bool KestrelXmegaStreamingUSBNotifier::handleDeviceChange(const Platform::Message& message)
{
    return m_watch.handleDeviceChange(message);
}

void KestrelXmegaStreamingUSBNotifier::arrived(Handle& device)
{
    if (m_devices.count(device.uniqueId()))
        return;
    auto* object = new KestrelXmegaStreamingUSBDevice(device);
    m_devices.emplace(device.uniqueId(), object);
    if (m_delegate)
        m_delegate->deviceArrived(object);
}

void KestrelXmegaStreamingUSBNotifier::rebooted(Handle&)
{
    // The unit's object reaches the returned device through the registry.
}

void KestrelXmegaStreamingUSBNotifier::removed(Handle& device)
{
    auto it = m_devices.find(device.uniqueId());
    if (it == m_devices.end())
        return;
    KestrelXmegaStreamingUSBDevice* object = it->second;
    m_devices.erase(it);
    if (m_delegate)
        m_delegate->deviceRemoved(object);
    object->release();
}

} // namespace DiskRecorder
} // namespace CVN
