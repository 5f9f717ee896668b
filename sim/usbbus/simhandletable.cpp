#include "sim/usbbus/simhandletable.h"

#include "sim/usbbus/usbdstatus.h"

namespace Sim {

using Platform::DriverHandle;
using Platform::IoStatus;

namespace {

uint32_t errorFor(uint32_t usbd)
{
    switch (usbd) {
    case Usbd::kTimeout:
        return Platform::kErrorSemTimeout;
    case Usbd::kDeviceGone:
        return Platform::kErrorDeviceNotConnected;
    case Usbd::kCanceled:
        return Platform::kErrorOperationAborted;
    default:
        return Platform::kErrorGenFailure;
    }
}

} // namespace

SimHandleTable::SimHandleTable(std::mutex& lock, SimDeviceRegistry& registry, WorkQueue& queue)
    : m_mutex(lock)
    , m_registry(registry)
    , m_queue(queue)
{
}

DriverHandle SimHandleTable::open(const std::string& path, uint32_t* lastError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = m_registry.findByPathLocked(path);
    if (!device) {
        if (lastError)
            *lastError = Platform::kErrorFileNotFound;
        return 0;
    }
    if (device->faults.refuseOpen) {
        if (lastError)
            *lastError = Platform::kErrorGenFailure;
        return 0;
    }
    DriverHandle handle = m_nextHandle++;
    m_handles[handle].device = device;
    ++device->openHandles;
    return handle;
}

void SimHandleTable::close(DriverHandle handle)
{
    cancel(handle, nullptr);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return;
    auto& device = *it->second.device;
    --device.openHandles;
    for (auto c = device.claims.begin(); c != device.claims.end();) {
        if (c->second == handle)
            c = device.claims.erase(c);
        else
            ++c;
    }
    m_handles.erase(it);
}

void SimHandleTable::cancel(DriverHandle handle, Platform::IoCompletion* completion)
{
    std::vector<std::shared_ptr<SimTransfer>> victims;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return;
        for (const auto& a : it->second.async) {
            if (!completion || a.first == completion)
                victims.push_back(a.second);
        }
    }
    for (const auto& t : victims)
        t->abandon(Usbd::kCanceled);
}

std::shared_ptr<SimDevice> SimHandleTable::deviceOf(DriverHandle handle) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return deviceOfLocked(handle);
}

std::shared_ptr<SimDevice> SimHandleTable::deviceOfLocked(DriverHandle handle) const
{
    auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second.device;
}

bool SimHandleTable::lastUsbd(DriverHandle handle, const SimDevice& device, uint32_t* usbd) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return false;
    *usbd = device.present ? it->second.lastUsbd : Usbd::kDeviceGone;
    return true;
}

void SimHandleTable::record(DriverHandle handle, uint32_t usbd)
{
    if (usbd == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it != m_handles.end())
        it->second.lastUsbd = usbd;
}

SimHandleTable::Admission SimHandleTable::admitLocked(SimDevice& device,
                                                      const std::shared_ptr<SimTransfer>& transfer,
                                                      LogEntry entry)
{
    // Unplugged after the caller looked: the unplug has already failed what was pending, so
    // this one fails on its own.
    if (!device.present)
        return Admission::Gone;
    const int n = ++device.requestCount;
    device.log.push_back(std::move(entry));
    transfer->setShortReplyBy(device.faults.shortReplyBy);
    if (device.faults.unplugAtRequest == n)
        return Admission::Unplug;
    device.pending.insert(transfer);
    if (device.faults.stallRequest == n)
        return Admission::Stall;
    if (device.faults.dropRequest == n)
        return Admission::Drop;
    return Admission::Pass;
}

void SimHandleTable::settle(Admission admission, DeviceId id,
                            const std::shared_ptr<SimTransfer>& transfer,
                            const std::function<void()>& deliver)
{
    switch (admission) {
    case Admission::Unplug:
        m_registry.unplug(id, true);
        transfer->abandon(Usbd::kDeviceGone);
        break;
    case Admission::Gone:
        transfer->abandon(Usbd::kDeviceGone);
        break;
    case Admission::Stall:
        transfer->complete(Usbd::kStall, {});
        break;
    case Admission::Drop:
        break;
    case Admission::Pass:
        deliver();
        break;
    }
}

IoStatus SimHandleTable::runTransfer(DriverHandle handle, const std::shared_ptr<SimDevice>& device,
                                     const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                                     uint32_t timeoutMs)
{
    Admission admission;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        admission = admitLocked(*device, transfer, std::move(entry));
    }
    settle(admission, device->id, transfer, [&] {
        if (transfer->kind() == Transfer::Control)
            device->model->control(transfer);
        else
            device->model->bulk(transfer);
    });
    if (!transfer->waitFor(timeoutMs))
        transfer->abandon(Usbd::kTimeout);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        device->pending.erase(transfer);
    }
    const uint32_t usbd = transfer->status();
    record(handle, usbd);
    if (usbd != 0)
        return {false, 0, errorFor(usbd)};
    return {true, transfer->bytes(), 0};
}

IoStatus SimHandleTable::startTransfer(DriverHandle handle,
                                       const std::shared_ptr<SimDevice>& device,
                                       const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                                       uint8_t* output, Platform::IoCompletion* completion)
{
    uint32_t overstate = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        overstate = device->faults.overstateAsyncBytes;
    }
    transfer->setAsync(output, [this, handle, device, transfer, completion,
                                overstate](uint32_t usbd, uint32_t bytes) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            device->pending.erase(transfer);
            auto it = m_handles.find(handle);
            if (it != m_handles.end()) {
                it->second.async.erase(completion);
                if (usbd != 0)
                    it->second.lastUsbd = usbd;
            }
        }
        completion->ioCompleted(usbd == 0 ? 0 : errorFor(usbd),
                                bytes + (usbd == 0 ? overstate : 0));
    });
    Admission admission;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handles.find(handle);
        if (it == m_handles.end() || it->second.async.count(completion))
            return {false, 0, Platform::kErrorInvalidParameter};
        if (device->faults.answerAsyncOk)
            return {true, 0, 0};
        it->second.async[completion] = transfer;
        admission = admitLocked(*device, transfer, std::move(entry));
    }
    // Never completed inside this call: the device's answer comes from the worker.
    std::weak_ptr<UsbDeviceModel> model = device->model;
    const DeviceId id = device->id;
    m_queue.post(0, [this, admission, transfer, model, id] {
        settle(admission, id, transfer, [&] {
            if (transfer->isCancelled())
                return;
            if (auto m = model.lock())
                m->bulk(transfer);
        });
    });
    return {false, 0, Platform::kErrorIoPending};
}

} // namespace Sim
