#include "sim/usbbus/simbus.h"

namespace Sim {

SimBus::SimBus()
    : m_registry(m_mutex, this,
                 [this](Platform::DriverHandle handle) { return m_handles.deviceOfLocked(handle); })
    , m_handles(m_mutex, m_registry, m_queue)
    , m_functions(m_mutex, m_handles)
{
}

SimBus::~SimBus() = default;

DeviceId SimBus::plug(std::shared_ptr<UsbDeviceModel> model)
{
    return m_registry.plug(std::move(model));
}

bool SimBus::unplug(DeviceId id)
{
    return m_registry.unplug(id, true);
}

DeviceId SimBus::reenumerate(DeviceId id, std::shared_ptr<UsbDeviceModel> next)
{
    return m_registry.reenumerate(id, std::move(next));
}

void SimBus::reset()
{
    m_registry.reset();
}

std::vector<DeviceId> SimBus::devices() const
{
    return m_registry.devices();
}

std::string SimBus::devicePath(DeviceId id) const
{
    return m_registry.devicePath(id);
}

std::shared_ptr<UsbDeviceModel> SimBus::model(DeviceId id) const
{
    return m_registry.model(id);
}

void SimBus::post(uint32_t delayMs, std::function<void()> work)
{
    m_queue.post(delayMs, std::move(work));
}

void SimBus::postAt(std::chrono::steady_clock::time_point due, std::function<void()> work)
{
    m_queue.postAt(due, std::move(work));
}

void SimBus::setFaults(DeviceId id, const Faults& faults)
{
    m_registry.setFaults(id, faults);
}

void SimBus::overrideDriverFunction(DeviceId id, uint32_t function, DriverReply reply)
{
    m_registry.overrideDriverFunction(id, function, std::move(reply));
}

std::vector<LogEntry> SimBus::requestLog(DeviceId id) const
{
    return m_registry.requestLog(id);
}

void SimBus::clearRequestLog(DeviceId id)
{
    m_registry.clearRequestLog(id);
}

int SimBus::openHandles(DeviceId id) const
{
    return m_registry.openHandles(id);
}

int SimBus::pendingTransfers(DeviceId id) const
{
    return m_registry.pendingTransfers(id);
}

std::vector<std::string> SimBus::devicePaths(const Platform::Guid& classGuid)
{
    if (classGuid != kDriverClass)
        return {};
    return m_registry.devicePaths();
}

Platform::DriverHandle SimBus::open(const std::string& path, uint32_t* lastError)
{
    return m_handles.open(path, lastError);
}

void SimBus::close(Platform::DriverHandle handle)
{
    m_handles.close(handle);
}

Platform::IoStatus SimBus::ioControl(Platform::DriverHandle handle, uint32_t code,
                                     const void* input, uint32_t inputSize, void* output,
                                     uint32_t outputSize)
{
    return m_functions.ioControl(handle, code, input, inputSize, output, outputSize);
}

Platform::IoStatus SimBus::ioControlAsync(Platform::DriverHandle handle, uint32_t code,
                                          const void* input, uint32_t inputSize, void* output,
                                          uint32_t outputSize, Platform::IoCompletion* completion)
{
    return m_functions.ioControlAsync(handle, code, input, inputSize, output, outputSize,
                                      completion);
}

void SimBus::cancel(Platform::DriverHandle handle, Platform::IoCompletion* completion)
{
    m_handles.cancel(handle, completion);
}

Platform::NotificationHandle
SimBus::registerNotification(Platform::Recipient* recipient,
                             const Platform::NotificationFilter& filter)
{
    return m_registry.registerNotification(recipient, filter);
}

void SimBus::unregisterNotification(Platform::NotificationHandle notification)
{
    m_registry.unregisterNotification(notification);
}

} // namespace Sim

extern "C" Sim::UsbBus* pellworth_usbbus()
{
    static Sim::SimBus bus;
    return &bus;
}

extern "C" Platform::DriverPort* pellworth_usbbus_driver_port()
{
    return static_cast<Sim::SimBus*>(pellworth_usbbus());
}
