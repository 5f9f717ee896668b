#pragma once

#include "plugins/recorder/diskrecordernotifierinstance.h"

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
class KestrelFX2USBDevice;

// Turns the FX2 recorders that come and go into recorder device objects for the family:
// one KestrelFX2USBDevice per opened recorder instance. Runs on the thread of the window
// that receives the device-change messages.
class KestrelFX2USBNotifier : private DiskRecorderNotifierInstance::Delegate
{
public:
    explicit KestrelFX2USBNotifier(Fx2RamImageTable table);
    ~KestrelFX2USBNotifier() override;

    KestrelFX2USBNotifier(const KestrelFX2USBNotifier&) = delete;
    KestrelFX2USBNotifier& operator=(const KestrelFX2USBNotifier&) = delete;

    // Registers; the recorders already present are reported before it returns. False when
    // already started.
    bool start(IKestrelNotificationDelegate* delegate, Platform::Recipient* window,
               std::uint32_t flags = 0);
    bool handleDeviceChange(const Platform::Message& message);
    std::size_t deviceCount() const { return m_devices.size(); }

private:
    void instanceArrived(DiskRecorderInstance* instance) override;
    void instanceRemoved(DiskRecorderInstance* instance) override;

    Fx2RamImageTable m_table;
    IKestrelNotificationDelegate* m_delegate = nullptr;
    // Holds the reference each device object was made with.
    std::map<DiskRecorderInstance*, KestrelFX2USBDevice*> m_devices;
    std::unique_ptr<DiskRecorderNotifierInstance> m_usbNotifier;
};

} // namespace DiskRecorder
} // namespace CVN
