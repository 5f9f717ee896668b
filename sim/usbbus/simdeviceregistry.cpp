#include "sim/usbbus/simdeviceregistry.h"

#include "platform/devicebroadcast.h"
#include "platform/message.h"
#include "platform/recipient.h"
#include "sim/usbbus/usbdstatus.h"

#include <cctype>
#include <cstdio>

namespace Sim {

namespace {

const char* const kClassSuffix = "#{b8719efc-9a7f-400f-b2af-285913fbcecc}";

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

SimDeviceRegistry::SimDeviceRegistry(std::mutex& lock, UsbBus* bus, HandleOwner ownerLocked)
    : m_mutex(lock)
    , m_bus(bus)
    , m_ownerLocked(std::move(ownerLocked))
{
}

DeviceId SimDeviceRegistry::plug(std::shared_ptr<UsbDeviceModel> model, std::string path)
{
    if (!model)
        return 0;
    auto device = std::make_shared<SimDevice>();
    device->model = model;
    device->identity = model->identity();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        device->id = m_nextDevice++;
    }
    // Told before the device is visible, so the model knows its id before any request, and
    // outside the lock, so it may call the bus.
    model->attached(m_bus, device->id);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (path.empty()) {
        std::string instance = device->identity.instance;
        if (instance.empty())
            instance = "sim" + std::to_string(device->id);
        char head[64];
        std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#", device->identity.vendorId,
                      device->identity.productId);
        path = head + instance;
        for (const auto& other : m_devices) {
            if (lower(other.second->path) == lower(path + kClassSuffix))
                path += "&" + std::to_string(device->id);
        }
        path += kClassSuffix;
    }
    device->path = path;
    m_devices[device->id] = device;
    for (const auto& r : m_registrations) {
        if (r.second.filter.type == Platform::DeviceBroadcast::kDeviceInterface &&
            r.second.filter.classGuid == kDriverClass)
            postLocked(r.first, Platform::kDbtDeviceArrival,
                       Platform::DeviceBroadcast::encodeDeviceInterface(kDriverClass, path));
    }
    return device->id;
}

bool SimDeviceRegistry::unplug(DeviceId id, bool announce)
{
    std::shared_ptr<SimDevice> device;
    std::set<std::shared_ptr<SimTransfer>> pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_devices.find(id);
        if (it == m_devices.end())
            return false;
        device = it->second;
        m_devices.erase(it);
        device->present = false;
        pending = device->pending;
        if (announce) {
            // Handle notifications first, then the class, as the system sends them.
            for (const auto& r : m_registrations) {
                const auto& f = r.second.filter;
                if (f.type != Platform::DeviceBroadcast::kHandle)
                    continue;
                if (m_ownerLocked(f.handle) == device)
                    postLocked(r.first, Platform::kDbtDeviceRemoveComplete,
                               Platform::DeviceBroadcast::encodeHandle(f.handle));
            }
            for (const auto& r : m_registrations) {
                const auto& f = r.second.filter;
                if (f.type == Platform::DeviceBroadcast::kDeviceInterface &&
                    f.classGuid == kDriverClass)
                    postLocked(r.first, Platform::kDbtDeviceRemoveComplete,
                               Platform::DeviceBroadcast::encodeDeviceInterface(kDriverClass,
                                                                                device->path));
            }
        }
    }
    for (const auto& t : pending)
        t->abandon(Usbd::kDeviceGone);
    device->model->detached();
    return true;
}

DeviceId SimDeviceRegistry::reenumerate(DeviceId id, std::shared_ptr<UsbDeviceModel> next)
{
    std::shared_ptr<UsbDeviceModel> model;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto device = findLocked(id);
        if (!device)
            return 0;
        model = next ? next : device->model;
        path = device->path;
    }
    unplug(id, true);
    return plug(model, path);
}

void SimDeviceRegistry::reset()
{
    for (DeviceId id : devices())
        unplug(id, false);
}

std::vector<DeviceId> SimDeviceRegistry::devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DeviceId> ids;
    for (const auto& d : m_devices)
        ids.push_back(d.first);
    return ids;
}

std::string SimDeviceRegistry::devicePath(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = findLocked(id);
    return device ? device->path : std::string();
}

std::shared_ptr<UsbDeviceModel> SimDeviceRegistry::model(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = findLocked(id);
    return device ? device->model : nullptr;
}

std::vector<std::string> SimDeviceRegistry::devicePaths() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> paths;
    for (const auto& d : m_devices)
        paths.push_back(d.second->path);
    return paths;
}

std::shared_ptr<SimDevice> SimDeviceRegistry::findByPathLocked(const std::string& path) const
{
    for (const auto& d : m_devices) {
        if (lower(d.second->path) == lower(path))
            return d.second;
    }
    return nullptr;
}

std::shared_ptr<SimDevice> SimDeviceRegistry::findLocked(DeviceId id) const
{
    auto it = m_devices.find(id);
    return it == m_devices.end() ? nullptr : it->second;
}

void SimDeviceRegistry::setFaults(DeviceId id, const Faults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto device = findLocked(id)) {
        device->faults = faults;
        device->requestCount = 0;
    }
}

void SimDeviceRegistry::overrideDriverFunction(DeviceId id, uint32_t function, DriverReply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = findLocked(id);
    if (!device)
        return;
    if (reply)
        device->overrides[function] = std::move(reply);
    else
        device->overrides.erase(function);
}

std::vector<LogEntry> SimDeviceRegistry::requestLog(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = findLocked(id);
    return device ? device->log : std::vector<LogEntry>();
}

void SimDeviceRegistry::clearRequestLog(DeviceId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto device = findLocked(id))
        device->log.clear();
}

int SimDeviceRegistry::openHandles(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = findLocked(id);
    return device ? device->openHandles : 0;
}

int SimDeviceRegistry::pendingTransfers(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto device = findLocked(id);
    return device ? int(device->pending.size()) : 0;
}

Platform::NotificationHandle
SimDeviceRegistry::registerNotification(Platform::Recipient* recipient,
                                        const Platform::NotificationFilter& filter)
{
    if (!recipient)
        return 0;
    if (filter.type != Platform::DeviceBroadcast::kDeviceInterface &&
        filter.type != Platform::DeviceBroadcast::kHandle)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (filter.type == Platform::DeviceBroadcast::kHandle && !m_ownerLocked(filter.handle))
        return 0;
    Platform::NotificationHandle key = m_nextRegistration++;
    m_registrations[key] = {recipient, filter};
    return key;
}

void SimDeviceRegistry::unregisterNotification(Platform::NotificationHandle notification)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registrations.erase(notification);
}

void SimDeviceRegistry::postLocked(uint64_t registrationKey, uintptr_t code,
                                   std::vector<uint8_t> header)
{
    auto it = m_registrations.find(registrationKey);
    if (it == m_registrations.end() || !it->second.recipient)
        return;
    Platform::Message message;
    message.message = Platform::kWmDeviceChange;
    message.wParam = code;
    message.data = std::move(header);
    it->second.recipient->postMessage(std::move(message));
}

} // namespace Sim
