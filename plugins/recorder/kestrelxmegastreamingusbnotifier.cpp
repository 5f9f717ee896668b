#include "plugins/recorder/kestrelxmegastreamingusbnotifier.h"

#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"
#include "plugins/recorder/xmegastreamingnotifier.h"

namespace CVN {
namespace DiskRecorder {

KestrelXmegaStreamingUSBNotifier::KestrelXmegaStreamingUSBNotifier()
    : m_qtNotifier(new QtXmegaUSBNotifier<StreamingXmegaUSBDevice>)
{
    m_qtNotifier->setDelegate(this);
}

KestrelXmegaStreamingUSBNotifier::~KestrelXmegaStreamingUSBNotifier()
{
    // The USB side goes first: it reports to the registry, which reports here.
    m_usbNotifier.reset();
    m_qtNotifier->setDelegate(nullptr);
    m_qtNotifier.reset();
    std::map<DeviceId, KestrelXmegaStreamingUSBDevice*> devices;
    devices.swap(m_devices);
    for (auto& entry : devices)
        entry.second->release();
}

bool KestrelXmegaStreamingUSBNotifier::start(IKestrelNotificationDelegate* delegate,
                                             Platform::Recipient* window, std::uint32_t flags)
{
    if (m_usbNotifier)
        return false;
    m_delegate = delegate;
    m_usbNotifier.reset(new XmegaStreamingNotifier);
    m_usbNotifier->setNotificationWindow(window, flags);
    return m_qtNotifier->start(m_usbNotifier.get(), false);
}

bool KestrelXmegaStreamingUSBNotifier::handleDeviceChange(const Platform::Message& message)
{
    return m_usbNotifier && m_usbNotifier->handleDeviceChangeMessage(message);
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
