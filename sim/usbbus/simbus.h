#pragma once

#include "sim/usbbus/configurationlayout.h"
#include "sim/usbbus/simtransfer.h"
#include "sim/usbbus/usbbus.h"
#include "sim/usbbus/workqueue.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>

namespace Sim {

// The bus and the driver in one: device models on one side, the driver's I/O-control
// contract on the other.
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
    struct Device
    {
        DeviceId id = 0;
        std::shared_ptr<UsbDeviceModel> model;
        DeviceIdentity identity;
        std::string path;
        std::atomic<bool> present{true}; // read without the bus lock
        Faults faults;
        int requestCount = 0;
        std::vector<LogEntry> log;
        std::map<uint32_t, DriverReply> overrides;
        std::map<uint8_t, Platform::DriverHandle> claims; // interface number -> owner
        std::set<std::shared_ptr<SimTransfer>> pending;
        int openHandles = 0;
    };
    struct Handle
    {
        std::shared_ptr<Device> device;
        uint32_t lastUsbd = 0;
        std::map<Platform::IoCompletion*, std::shared_ptr<SimTransfer>> async;
    };
    struct Registration
    {
        Platform::Recipient* recipient = nullptr;
        Platform::NotificationFilter filter;
    };
    // What a new transfer meets on its way to the device.
    enum class Admission { Pass, Stall, Drop, Unplug, Gone };

    DeviceId plugAt(std::shared_ptr<UsbDeviceModel> model, std::string path);
    bool unplugDevice(DeviceId id, bool announce);
    void postLocked(uint64_t registrationKey, uintptr_t code, std::vector<uint8_t> header);
    std::shared_ptr<Device> deviceOf(Platform::DriverHandle handle) const;
    Admission admitLocked(Device& device, const std::shared_ptr<SimTransfer>& transfer,
                          LogEntry entry);
    Platform::IoStatus runTransfer(Platform::DriverHandle handle,
                                   const std::shared_ptr<Device>& device,
                                   const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                                   uint32_t timeoutMs);
    Platform::IoStatus startTransfer(Platform::DriverHandle handle,
                                     const std::shared_ptr<Device>& device,
                                     const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                                     uint8_t* output, Platform::IoCompletion* completion);
    void record(Platform::DriverHandle handle, uint32_t usbd);
    Platform::IoStatus pipeRequest(Platform::DriverHandle handle,
                                   const std::shared_ptr<Device>& device, uint32_t function,
                                   const uint8_t* input, uint32_t inputSize, uint8_t* output,
                                   uint32_t outputSize, Platform::IoCompletion* completion);
    Platform::IoStatus serve(Platform::DriverHandle handle, const std::shared_ptr<Device>& device,
                             uint32_t function, const uint8_t* input, uint32_t inputSize,
                             uint8_t* output, uint32_t outputSize);

    mutable std::mutex m_mutex;
    std::map<DeviceId, std::shared_ptr<Device>> m_devices;
    std::map<Platform::DriverHandle, Handle> m_handles;
    std::map<Platform::NotificationHandle, Registration> m_registrations;
    DeviceId m_nextDevice = 1;
    Platform::DriverHandle m_nextHandle = 0x100;
    Platform::NotificationHandle m_nextRegistration = 0x7000;
    WorkQueue m_queue;
};

} // namespace Sim
