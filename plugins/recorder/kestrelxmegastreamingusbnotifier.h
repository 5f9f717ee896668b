#pragma once

#include "plugins/recorder/xmegastreamingnotifier.h"
#include "plugins/recorder/xmegaunitwatch.h"
#include "usb/xmega/deviceid.h"
#include "usb/xmega/qtxmegausbnotifier.h"
#include "usb/xmega/streamingxmegausbdevice.h"

#include <cstdint>
#include <map>
#include <memory>

namespace Platform {
class Recipient;
struct Message;
} // namespace Platform

namespace CVN {
namespace DiskRecorder {

class IKestrelNotificationDelegate;
class KestrelXmegaStreamingUSBDevice;

// Turns streaming recorders into recorder device objects for the family, through the
// registry of live units by unique id: a unit back from an announced reboot keeps its
// object, and a unit that arrives again under a unique id already held is not reported
// twice. Runs on the thread of the window that receives the device-change messages.
class KestrelXmegaStreamingUSBNotifier
    : public QtXmegaUSBNotifier<StreamingXmegaUSBDevice>::Delegate
{
public:
    using Handle = QtXmegaUSBDevice<StreamingXmegaUSBDevice>;

    KestrelXmegaStreamingUSBNotifier();
    ~KestrelXmegaStreamingUSBNotifier() override;

    KestrelXmegaStreamingUSBNotifier(const KestrelXmegaStreamingUSBNotifier&) = delete;
    KestrelXmegaStreamingUSBNotifier& operator=(const KestrelXmegaStreamingUSBNotifier&) = delete;

    // Registers; the units already present are reported before it returns. False when
    // already started.
    bool start(IKestrelNotificationDelegate* delegate, Platform::Recipient* window,
               std::uint32_t flags = 0);
    bool handleDeviceChange(const Platform::Message& message);

    const QtXmegaUSBNotifier<StreamingXmegaUSBDevice>& registry() const
    {
        return m_watch.registry();
    }
    std::size_t deviceCount() const { return m_devices.size(); }

    void arrived(Handle& device) override;
    void rebooted(Handle& device) override;
    void removed(Handle& device) override;

private:
    IKestrelNotificationDelegate* m_delegate = nullptr;
    // The object made for each unit, holding the reference it was made with.
    std::map<DeviceId, KestrelXmegaStreamingUSBDevice*> m_devices;
    XmegaUnitWatch<StreamingXmegaUSBDevice, XmegaStreamingNotifier> m_watch{this};
};

} // namespace DiskRecorder
} // namespace CVN
