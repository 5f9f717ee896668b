#pragma once

#include "sim/usbbus/simdevice.h"

#include <functional>
#include <mutex>

namespace Sim {

// The devices on the bus and who wants to hear of them: plug, unplug, re-enumerate, the
// per-device knobs and logs, and the device-change notifications. Shares the bus lock with
// the handle table; methods named ...Locked expect it held.
class SimDeviceRegistry
{
public:
    // Which device a driver handle was opened on, asked with the lock held.
    using HandleOwner = std::function<std::shared_ptr<SimDevice>(Platform::DriverHandle)>;

    SimDeviceRegistry(std::mutex& lock, UsbBus* bus, HandleOwner ownerLocked);

    // An empty path makes one from the device's identity.
    DeviceId plug(std::shared_ptr<UsbDeviceModel> model, std::string path = {});
    // Fails what is pending on the device; `announce` posts the removal notifications.
    bool unplug(DeviceId id, bool announce);
    DeviceId reenumerate(DeviceId id, std::shared_ptr<UsbDeviceModel> next);
    void reset();

    std::vector<DeviceId> devices() const;
    std::string devicePath(DeviceId id) const;
    std::shared_ptr<UsbDeviceModel> model(DeviceId id) const;
    std::vector<std::string> devicePaths() const;
    std::shared_ptr<SimDevice> findByPathLocked(const std::string& path) const;

    void setFaults(DeviceId id, const Faults& faults);
    void overrideDriverFunction(DeviceId id, uint32_t function, DriverReply reply);
    std::vector<LogEntry> requestLog(DeviceId id) const;
    void clearRequestLog(DeviceId id);
    int openHandles(DeviceId id) const;
    int pendingTransfers(DeviceId id) const;

    // A handle filter must name an open handle.
    Platform::NotificationHandle registerNotification(Platform::Recipient* recipient,
                                                      const Platform::NotificationFilter& filter);
    void unregisterNotification(Platform::NotificationHandle notification);

private:
    struct Registration
    {
        Platform::Recipient* recipient = nullptr;
        Platform::NotificationFilter filter;
    };

    std::shared_ptr<SimDevice> findLocked(DeviceId id) const;
    void postLocked(uint64_t registrationKey, uintptr_t code, std::vector<uint8_t> header);

    std::mutex& m_mutex;
    UsbBus* const m_bus;
    const HandleOwner m_ownerLocked;
    std::map<DeviceId, std::shared_ptr<SimDevice>> m_devices;
    std::map<Platform::NotificationHandle, Registration> m_registrations;
    DeviceId m_nextDevice = 1;
    Platform::NotificationHandle m_nextRegistration = 0x7000;
};

} // namespace Sim
