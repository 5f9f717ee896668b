#pragma once

#include "plugins/recorder/diskrecorderxmeganotifier.h"
#include "plugins/recorder/xmegaunitwatch.h"
#include "usb/xmega/deviceid.h"
#include "usb/xmega/qtxmegausbnotifier.h"
#include "usb/xmega/xmegausbdevice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace Platform {
class Recipient;
struct Message;
} // namespace Platform

namespace CVN {
namespace DiskRecorder {

class IKestrelNotificationDelegate;
class KestrelXmegaUSBDevice;

// Turns XMEGA mailbox recorders into recorder device objects for the family, through the
// registry of live units by unique id: a unit back from an announced reboot keeps its
// object. Units in their boot loader are reported as they are, never restarted. Runs on the
// thread of the window that receives the device-change messages.
class KestrelXmegaUSBNotifier : public QtXmegaUSBNotifier<XmegaUSBDevice>::Delegate
{
public:
    using Handle = QtXmegaUSBDevice<XmegaUSBDevice>;

    KestrelXmegaUSBNotifier();
    ~KestrelXmegaUSBNotifier() override;

    KestrelXmegaUSBNotifier(const KestrelXmegaUSBNotifier&) = delete;
    KestrelXmegaUSBNotifier& operator=(const KestrelXmegaUSBNotifier&) = delete;

    // Registers; the units already present are reported before it returns. False when
    // already started.
    bool start(IKestrelNotificationDelegate* delegate, Platform::Recipient* window,
               std::uint32_t flags = 0);
    bool handleDeviceChange(const Platform::Message& message);

    const QtXmegaUSBNotifier<XmegaUSBDevice>& registry() const { return m_watch.registry(); }
    std::size_t deviceCount() const;

    void arrived(Handle& device) override;
    void rebooted(Handle& device) override;
    void removed(Handle& device) override;

private:
    IKestrelNotificationDelegate* m_delegate = nullptr;
    // The objects made for each unit, each holding the reference it was made with. A unit
    // that arrives again without going first gets a further object; all go with the unit.
    std::map<DeviceId, std::vector<KestrelXmegaUSBDevice*>> m_devices;
    XmegaUnitWatch<XmegaUSBDevice, DiskRecorderXmegaNotifier> m_watch{this};
};

} // namespace DiskRecorder
} // namespace CVN
