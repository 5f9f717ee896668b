#include "plugins/recorder/kestrelxmegausbnotifier.h"

#include "plugins/recorder/diskrecorderxmeganotifier.h"
#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "plugins/recorder/kestrelxmegausbdevice.h"

namespace CVN {
namespace DiskRecorder {

KestrelXmegaUSBNotifier::KestrelXmegaUSBNotifier()
    : m_qtNotifier(new QtXmegaUSBNotifier<XmegaUSBDevice>)
{
    m_qtNotifier->setDelegate(this);
}

KestrelXmegaUSBNotifier::~KestrelXmegaUSBNotifier()
{
    // The USB side goes first: it reports to the registry, which reports here.
    m_usbNotifier.reset();
    m_qtNotifier->setDelegate(nullptr);
    m_qtNotifier.reset();
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
    if (m_usbNotifier)
        return false;
    m_delegate = delegate;
    m_usbNotifier.reset(new DiskRecorderXmegaNotifier);
    m_usbNotifier->setNotificationWindow(window, flags);
    return m_qtNotifier->start(m_usbNotifier.get(), false);
}

bool KestrelXmegaUSBNotifier::handleDeviceChange(const Platform::Message& message)
{
    return m_usbNotifier && m_usbNotifier->handleDeviceChangeMessage(message);
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
