#pragma once

#include "sim/usbbus/simdeviceregistry.h"
#include "sim/usbbus/simdriverfunctions.h"
#include "sim/usbbus/simhandletable.h"
#include "sim/usbbus/usbbus.h"
#include "sim/usbbus/workqueue.h"

#include <mutex>

namespace Sim {

// The bus and the driver in one: device models on one side, the driver's I/O-control
// contract on the other. A thin front over its parts, which share one lock: the device
// registry, the handle table and the table of driver functions.
class SimBus final : public UsbBus, public Platform::DriverPort
{
public:
    SimBus();
    ~SimBus() override;

    // UsbBus
    DeviceId plug(std::shared_ptr<UsbDeviceModel> model) override;
    bool unplug(DeviceId id) override;
    DeviceId reenumerate(DeviceId id, std::shared_ptr<UsbDeviceModel> next) override;
    void reset() override;
    std::vector<DeviceId> devices() const override;
    std::string devicePath(DeviceId id) const override;
    std::shared_ptr<UsbDeviceModel> model(DeviceId id) const override;
    void post(uint32_t delayMs, std::function<void()> work) override;
    void postAt(std::chrono::steady_clock::time_point due, std::function<void()> work) override;
    void setFaults(DeviceId id, const Faults& faults) override;
    void overrideDriverFunction(DeviceId id, uint32_t function, DriverReply reply) override;
    std::vector<LogEntry> requestLog(DeviceId id) const override;
    void clearRequestLog(DeviceId id) override;
    int openHandles(DeviceId id) const override;
    int pendingTransfers(DeviceId id) const override;

    // DriverPort
    std::vector<std::string> devicePaths(const Platform::Guid& classGuid) override;
    Platform::DriverHandle open(const std::string& path, uint32_t* lastError) override;
    void close(Platform::DriverHandle handle) override;
    Platform::IoStatus ioControl(Platform::DriverHandle handle, uint32_t code, const void* input,
                                 uint32_t inputSize, void* output, uint32_t outputSize) override;
    Platform::IoStatus ioControlAsync(Platform::DriverHandle handle, uint32_t code,
                                      const void* input, uint32_t inputSize, void* output,
                                      uint32_t outputSize,
                                      Platform::IoCompletion* completion) override;
    void cancel(Platform::DriverHandle handle, Platform::IoCompletion* completion) override;
    Platform::NotificationHandle
    registerNotification(Platform::Recipient* recipient,
                         const Platform::NotificationFilter& filter) override;
    void unregisterNotification(Platform::NotificationHandle notification) override;

private:
    mutable std::mutex m_mutex;
    SimDeviceRegistry m_registry;
    SimHandleTable m_handles;
    SimDriverFunctions m_functions;
    // Last, so its worker stops before the parts it calls go.
    WorkQueue m_queue;
};

} // namespace Sim
