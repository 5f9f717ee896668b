#pragma once

#include "sim/usbbus/simdeviceregistry.h"
#include "sim/usbbus/workqueue.h"

#include <functional>

namespace Sim {

// The driver handles open on the bus's devices, and the way of every transfer to its device:
// the bus's faults admit, stall, drop or unplug it, synchronously or on the worker.
class SimHandleTable
{
public:
    SimHandleTable(std::mutex& lock, SimDeviceRegistry& registry, WorkQueue& queue);

    Platform::DriverHandle open(const std::string& path, uint32_t* lastError);
    void close(Platform::DriverHandle handle);
    // Abandons the handle's asynchronous transfers (all of them for a null completion).
    void cancel(Platform::DriverHandle handle, Platform::IoCompletion* completion);

    std::shared_ptr<SimDevice> deviceOf(Platform::DriverHandle handle) const;
    std::shared_ptr<SimDevice> deviceOfLocked(Platform::DriverHandle handle) const;
    // The handle's last USBD status (a device that is gone reads as gone); false for a handle
    // that is not open.
    bool lastUsbd(Platform::DriverHandle handle, const SimDevice& device, uint32_t* usbd) const;
    void record(Platform::DriverHandle handle, uint32_t usbd);

    // Runs a transfer to the end or to its time-out.
    Platform::IoStatus runTransfer(Platform::DriverHandle handle,
                                   const std::shared_ptr<SimDevice>& device,
                                   const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                                   uint32_t timeoutMs);
    // Starts a bulk transfer that completes later through `completion`, never inside this call.
    Platform::IoStatus startTransfer(Platform::DriverHandle handle,
                                     const std::shared_ptr<SimDevice>& device,
                                     const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                                     uint8_t* output, Platform::IoCompletion* completion);

private:
    struct Handle
    {
        std::shared_ptr<SimDevice> device;
        uint32_t lastUsbd = 0;
        std::map<Platform::IoCompletion*, std::shared_ptr<SimTransfer>> async;
    };
    // What a new transfer meets on its way to the device.
    enum class Admission { Pass, Stall, Drop, Unplug, Gone };

    Admission admitLocked(SimDevice& device, const std::shared_ptr<SimTransfer>& transfer,
                          LogEntry entry);
    // Carries out what the admission decided; a transfer that passes goes to `deliver`.
    void settle(Admission admission, DeviceId id, const std::shared_ptr<SimTransfer>& transfer,
                const std::function<void()>& deliver);

    std::mutex& m_mutex;
    SimDeviceRegistry& m_registry;
    WorkQueue& m_queue;
    std::map<Platform::DriverHandle, Handle> m_handles;
    Platform::DriverHandle m_nextHandle = 0x100;
};

} // namespace Sim
