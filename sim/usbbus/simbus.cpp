#include "sim/usbbus/simbus.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "platform/devicebroadcast.h"
#include "platform/message.h"
#include "platform/recipient.h"
#include "sim/usbbus/usbdstatus.h"

#include <cctype>
#include <cstdio>

namespace Sim {

using Platform::ByteReader;
using Platform::ByteWriter;
using Platform::DriverHandle;
using Platform::IoStatus;

namespace {

// The driver's functions (code = 0x220000 | function << 2).
enum Function : uint32_t {
    Handshake = 0x800,
    LastUsbStatus = 0x817,
    ControlTransfer = 0x820,
    DeviceClass = 0x823,
    ConfigurationDescriptor = 0x824,
    DeviceSubClass = 0x825,
    ProductId = 0x826,
    DeviceProtocol = 0x827,
    DeviceRevision = 0x828,
    DeviceSpeed = 0x82A,
    VendorId = 0x82B,
    ConfigurationCount = 0x82D,
    SelectConfiguration = 0x82E,
    InterfaceList = 0x82F,
    InterfaceClass = 0x830,
    InterfaceNumber = 0x831,
    InterfaceSubClass = 0x832,
    InterfaceProtocol = 0x833,
    EndpointCount = 0x834,
    PipeProperties = 0x835,
    WritePipe = 0x836,
    ReadPipe = 0x837,
    ResetDevice = 0x838,
    WritePipeAsync = 0x839,
    ReadPipeAsync = 0x83A,
    ResetPipe = 0x83B,
    SerialNumberIndex = 0x83C,
    SetDriverOption = 0x83D,
    ClaimInterface = 0x83E,
    ReleaseInterface = 0x83F,
};

constexpr uint32_t kErrorInvalidFunction = 1;
constexpr size_t kControlHeader = 20;
constexpr size_t kPipeBlock = 16;
const char* const kClassSuffix = "#{b8719efc-9a7f-400f-b2af-285913fbcecc}";

IoStatus failed(uint32_t error)
{
    return {false, 0, error};
}

IoStatus word(uint8_t* output, uint32_t outputSize, uint32_t value)
{
    ByteWriter w(output, outputSize);
    if (!w.u32(0, value))
        return failed(Platform::kErrorInsufficientBuffer);
    return {true, 4, 0};
}

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

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

SimBus::SimBus() = default;

SimBus::~SimBus() = default;

// ---- the bus ------------------------------------------------------------------------------

DeviceId SimBus::plug(std::shared_ptr<UsbDeviceModel> model)
{
    return plugAt(std::move(model), {});
}

DeviceId SimBus::plugAt(std::shared_ptr<UsbDeviceModel> model, std::string path)
{
    if (!model)
        return 0;
    auto device = std::make_shared<Device>();
    device->model = model;
    device->identity = model->identity();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        device->id = m_nextDevice++;
    }
    // Told before the device is visible, so the model knows its id before any request, and
    // outside the lock, so it may call the bus.
    model->attached(this, device->id);
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

bool SimBus::unplug(DeviceId id)
{
    return unplugDevice(id, true);
}

bool SimBus::unplugDevice(DeviceId id, bool announce)
{
    std::shared_ptr<Device> device;
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
                auto h = m_handles.find(f.handle);
                if (h != m_handles.end() && h->second.device == device)
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

DeviceId SimBus::reenumerate(DeviceId id, std::shared_ptr<UsbDeviceModel> next)
{
    std::shared_ptr<UsbDeviceModel> model;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_devices.find(id);
        if (it == m_devices.end())
            return 0;
        model = next ? next : it->second->model;
        path = it->second->path;
    }
    unplugDevice(id, true);
    return plugAt(model, path);
}

void SimBus::reset()
{
    for (DeviceId id : devices())
        unplugDevice(id, false);
}

std::vector<DeviceId> SimBus::devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DeviceId> ids;
    for (const auto& d : m_devices)
        ids.push_back(d.first);
    return ids;
}

std::string SimBus::devicePath(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    return it == m_devices.end() ? std::string() : it->second->path;
}

std::shared_ptr<UsbDeviceModel> SimBus::model(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    return it == m_devices.end() ? nullptr : it->second->model;
}

void SimBus::post(uint32_t delayMs, std::function<void()> work)
{
    m_queue.post(delayMs, std::move(work));
}

void SimBus::setFaults(DeviceId id, const Faults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    if (it != m_devices.end()) {
        it->second->faults = faults;
        it->second->requestCount = 0;
    }
}

void SimBus::overrideDriverFunction(DeviceId id, uint32_t function, DriverReply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    if (it == m_devices.end())
        return;
    if (reply)
        it->second->overrides[function] = std::move(reply);
    else
        it->second->overrides.erase(function);
}

std::vector<LogEntry> SimBus::requestLog(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    return it == m_devices.end() ? std::vector<LogEntry>() : it->second->log;
}

void SimBus::clearRequestLog(DeviceId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    if (it != m_devices.end())
        it->second->log.clear();
}

int SimBus::openHandles(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    return it == m_devices.end() ? 0 : it->second->openHandles;
}

int SimBus::pendingTransfers(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    return it == m_devices.end() ? 0 : int(it->second->pending.size());
}

void SimBus::postLocked(uint64_t registrationKey, uintptr_t code, std::vector<uint8_t> header)
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

// ---- the driver ---------------------------------------------------------------------------

std::vector<std::string> SimBus::devicePaths(const Platform::Guid& classGuid)
{
    std::vector<std::string> paths;
    if (classGuid != kDriverClass)
        return paths;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& d : m_devices)
        paths.push_back(d.second->path);
    return paths;
}

DriverHandle SimBus::open(const std::string& path, uint32_t* lastError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& d : m_devices) {
        if (lower(d.second->path) != lower(path))
            continue;
        if (d.second->faults.refuseOpen) {
            if (lastError)
                *lastError = Platform::kErrorGenFailure;
            return 0;
        }
        DriverHandle handle = m_nextHandle++;
        m_handles[handle].device = d.second;
        ++d.second->openHandles;
        return handle;
    }
    if (lastError)
        *lastError = Platform::kErrorFileNotFound;
    return 0;
}

void SimBus::close(DriverHandle handle)
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

std::shared_ptr<SimBus::Device> SimBus::deviceOf(DriverHandle handle) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second.device;
}

void SimBus::record(DriverHandle handle, uint32_t usbd)
{
    if (usbd == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it != m_handles.end())
        it->second.lastUsbd = usbd;
}

IoStatus SimBus::ioControl(DriverHandle handle, uint32_t code, const void* input,
                           uint32_t inputSize, void* output, uint32_t outputSize)
{
    if ((code & 0xFFFFC003u) != 0x220000u)
        return failed(kErrorInvalidFunction);
    const uint32_t function = (code >> 2) & 0xFFF;
    std::shared_ptr<Device> device = deviceOf(handle);
    if (!device)
        return failed(Platform::kErrorInvalidHandle);
    auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    DriverReply reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto o = device->overrides.find(function);
        if (o != device->overrides.end())
            reply = o->second;
    }
    if (reply)
        return reply(std::vector<uint8_t>(in, in + (in ? inputSize : 0)), out, outputSize);
    if (function == LastUsbStatus) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return failed(Platform::kErrorInvalidHandle);
        uint32_t usbd = device->present ? it->second.lastUsbd : Usbd::kDeviceGone;
        return word(out, outputSize, usbd);
    }
    if (!device->present)
        return failed(Platform::kErrorDeviceNotConnected);
    return serve(handle, device, function, in, inputSize, out, outputSize);
}

IoStatus SimBus::ioControlAsync(DriverHandle handle, uint32_t code, const void* input,
                                uint32_t inputSize, void* output, uint32_t outputSize,
                                Platform::IoCompletion* completion)
{
    const uint32_t function = (code >> 2) & 0xFFF;
    if ((code & 0xFFFFC003u) != 0x220000u ||
        (function != WritePipeAsync && function != ReadPipeAsync) || !completion)
        return failed(kErrorInvalidFunction);
    std::shared_ptr<Device> device = deviceOf(handle);
    if (!device)
        return failed(Platform::kErrorInvalidHandle);
    if (!device->present)
        return failed(Platform::kErrorDeviceNotConnected);
    return pipeRequest(handle, device, function, static_cast<const uint8_t*>(input), inputSize,
                       static_cast<uint8_t*>(output), outputSize, completion);
}

void SimBus::cancel(DriverHandle handle, Platform::IoCompletion* completion)
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

Platform::NotificationHandle
SimBus::registerNotification(Platform::Recipient* recipient,
                             const Platform::NotificationFilter& filter)
{
    if (!recipient)
        return 0;
    if (filter.type != Platform::DeviceBroadcast::kDeviceInterface &&
        filter.type != Platform::DeviceBroadcast::kHandle)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (filter.type == Platform::DeviceBroadcast::kHandle && !m_handles.count(filter.handle))
        return 0;
    Platform::NotificationHandle key = m_nextRegistration++;
    m_registrations[key] = {recipient, filter};
    return key;
}

void SimBus::unregisterNotification(Platform::NotificationHandle notification)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registrations.erase(notification);
}

SimBus::Admission SimBus::admitLocked(Device& device, const std::shared_ptr<SimTransfer>& transfer,
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

IoStatus SimBus::runTransfer(DriverHandle handle, const std::shared_ptr<Device>& device,
                             const std::shared_ptr<SimTransfer>& transfer, LogEntry entry,
                             uint32_t timeoutMs)
{
    Admission admission;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        admission = admitLocked(*device, transfer, std::move(entry));
    }
    switch (admission) {
    case Admission::Unplug:
        unplugDevice(device->id, true);
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
        if (transfer->kind() == Transfer::Control)
            device->model->control(transfer);
        else
            device->model->bulk(transfer);
        break;
    }
    if (!transfer->waitFor(timeoutMs))
        transfer->abandon(Usbd::kTimeout);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        device->pending.erase(transfer);
    }
    const uint32_t usbd = transfer->status();
    record(handle, usbd);
    if (usbd != 0)
        return failed(errorFor(usbd));
    return {true, transfer->bytes(), 0};
}

IoStatus SimBus::startTransfer(DriverHandle handle, const std::shared_ptr<Device>& device,
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
            return failed(Platform::kErrorInvalidParameter);
        if (device->faults.answerAsyncOk)
            return {true, 0, 0};
        it->second.async[completion] = transfer;
        admission = admitLocked(*device, transfer, std::move(entry));
    }
    // Never completed inside this call: the device's answer comes from the worker.
    std::weak_ptr<UsbDeviceModel> model = device->model;
    const DeviceId id = device->id;
    m_queue.post(0, [this, admission, transfer, model, id] {
        switch (admission) {
        case Admission::Unplug:
            unplugDevice(id, true);
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
            if (transfer->isCancelled())
                break;
            if (auto m = model.lock())
                m->bulk(transfer);
            break;
        }
    });
    return {false, 0, Platform::kErrorIoPending};
}

IoStatus SimBus::pipeRequest(DriverHandle handle, const std::shared_ptr<Device>& device,
                             uint32_t function, const uint8_t* input, uint32_t inputSize,
                             uint8_t* output, uint32_t outputSize,
                             Platform::IoCompletion* completion)
{
    ByteReader r(input, inputSize);
    uint8_t interfaceId = 0;
    uint8_t pipe = 0;
    uint32_t length = 0;
    uint32_t timeout = 0;
    if (inputSize < kPipeBlock || !r.u8(0, &interfaceId) || !r.u8(1, &pipe) || !r.u32(4, &length) ||
        !r.u32(8, &timeout))
        return failed(Platform::kErrorInvalidParameter);
    const bool write = function == WritePipe || function == WritePipeAsync;
    if (write ? inputSize - kPipeBlock != length : outputSize < length)
        return failed(Platform::kErrorInvalidParameter);
    const auto layout = ConfigurationLayout::parse(device->model->configurationDescriptor(0));
    if (interfaceId >= layout.interfaces.size())
        return failed(Platform::kErrorInvalidParameter);
    const auto& iface = layout.interfaces[interfaceId];
    if (pipe < 1 || pipe > iface.endpoints.size()) {
        record(handle, Usbd::kInvalidPipeHandle);
        return failed(Platform::kErrorInvalidParameter);
    }
    const auto& endpoint = iface.endpoints[pipe - 1];
    if (bool(endpoint.address & 0x80) == write) {
        record(handle, Usbd::kInvalidPipeHandle);
        return failed(Platform::kErrorInvalidParameter);
    }
    std::vector<uint8_t> data;
    if (write)
        data.assign(input + kPipeBlock, input + kPipeBlock + length);
    LogEntry entry;
    entry.kind = write ? LogEntry::BulkOut : LogEntry::BulkIn;
    entry.endpoint = endpoint.address;
    entry.value = length;
    entry.data = data;
    auto transfer = std::make_shared<SimTransfer>(write ? Transfer::BulkOut : Transfer::BulkIn,
                                                  ControlSetup(), iface.number, endpoint.address,
                                                  std::move(data), write ? 0 : length);
    if (completion)
        return startTransfer(handle, device, transfer, std::move(entry), output, completion);
    IoStatus status = runTransfer(handle, device, transfer, std::move(entry), timeout);
    if (status.ok && !write) {
        auto in = transfer->inData();
        ByteWriter(output, outputSize).bytes(0, in.data(), in.size());
    }
    return status;
}

IoStatus SimBus::serve(DriverHandle handle, const std::shared_ptr<Device>& device,
                       uint32_t function, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                       uint32_t outputSize)
{
    const DeviceIdentity& id = device->identity;
    ByteReader in(input, inputSize);
    auto layoutInterface = [&](ConfigurationLayout& layout,
                               ConfigurationLayout::Interface** found) {
        uint32_t interfaceId = 0;
        if (!in.u32(0, &interfaceId))
            return false;
        layout = ConfigurationLayout::parse(device->model->configurationDescriptor(0));
        if (interfaceId >= layout.interfaces.size()) {
            record(handle, Usbd::kInterfaceNotFound);
            return false;
        }
        *found = &layout.interfaces[interfaceId];
        return true;
    };
    auto log = [&](LogEntry::Kind kind, uint32_t value, uint8_t endpoint) {
        std::lock_guard<std::mutex> lock(m_mutex);
        LogEntry e;
        e.kind = kind;
        e.value = value;
        e.endpoint = endpoint;
        device->log.push_back(e);
    };

    switch (function) {
    case Handshake: {
        Faults f;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            f = device->faults;
        }
        uint8_t reply[8];
        ByteWriter w(reply, sizeof reply);
        w.u32(0, f.handshakeFirst);
        w.u32(4, f.handshakeSecond);
        const uint32_t n = f.handshakeSize < 8 ? f.handshakeSize : 8;
        if (outputSize < n)
            return failed(Platform::kErrorInsufficientBuffer);
        ByteWriter(output, outputSize).bytes(0, reply, n);
        return {true, n, 0};
    }
    case ControlTransfer: {
        uint8_t direction = 0, type = 0, recipient = 0;
        ControlSetup setup;
        uint32_t timeout = 0;
        if (!in.u8(0, &direction) || !in.u8(1, &type) || !in.u8(2, &recipient) ||
            !in.u8(3, &setup.request) || !in.u16(4, &setup.value) || !in.u16(6, &setup.index) ||
            !in.u16(8, &setup.length) || !in.u32(12, &timeout))
            return failed(Platform::kErrorInvalidParameter);
        if (inputSize != kControlHeader + setup.length || outputSize != inputSize) {
            record(handle, Usbd::kInvalidParameter);
            return failed(Platform::kErrorInvalidParameter);
        }
        setup.requestType = uint8_t((direction & 1) << 7 | (type & 3) << 5 | (recipient & 0x1f));
        std::vector<uint8_t> data;
        if (!setup.isIn())
            data.assign(input + kControlHeader, input + inputSize);
        LogEntry entry;
        entry.kind = LogEntry::Control;
        entry.setup = setup;
        entry.data = data;
        auto transfer = std::make_shared<SimTransfer>(
            Transfer::Control, setup, 0, 0, std::move(data), setup.isIn() ? setup.length : 0);
        IoStatus status = runTransfer(handle, device, transfer, std::move(entry), timeout);
        if (!status.ok)
            return status;
        ByteWriter out(output, outputSize);
        out.bytes(0, input, kControlHeader);
        if (setup.isIn()) {
            auto reply = transfer->inData();
            out.bytes(kControlHeader, reply.data(), reply.size());
            return {true, uint32_t(kControlHeader + reply.size()), 0};
        }
        out.bytes(kControlHeader, input + kControlHeader, setup.length);
        return {true, inputSize, 0};
    }
    case DeviceClass:
        return word(output, outputSize, id.deviceClass);
    case DeviceSubClass:
        return word(output, outputSize, id.deviceSubClass);
    case ProductId:
        return word(output, outputSize, id.productId);
    case DeviceProtocol:
        return word(output, outputSize, id.deviceProtocol);
    case DeviceRevision:
        return word(output, outputSize, id.revision);
    case DeviceSpeed:
        return word(output, outputSize, id.speed);
    case VendorId:
        return word(output, outputSize, id.vendorId);
    case ConfigurationCount:
        return word(output, outputSize, id.configurationCount);
    case SerialNumberIndex:
        if (outputSize < 1)
            return failed(Platform::kErrorInsufficientBuffer);
        output[0] = id.serialNumberIndex;
        return {true, 1, 0};
    case ConfigurationDescriptor: {
        uint32_t index = 0;
        if (!in.u32(0, &index) || index > 0xFF)
            return failed(Platform::kErrorInvalidParameter);
        const auto bytes = device->model->configurationDescriptor(uint8_t(index));
        if (bytes.empty()) {
            record(handle, Usbd::kInvalidParameter);
            return failed(Platform::kErrorInvalidParameter);
        }
        const uint32_t total = uint32_t(4 + bytes.size());
        ByteWriter out(output, outputSize);
        if (!out.u32(0, total))
            return failed(Platform::kErrorInsufficientBuffer);
        if (outputSize < total)
            return {true, 4, 0};
        out.bytes(4, bytes.data(), bytes.size());
        return {true, total, 0};
    }
    case SelectConfiguration: {
        uint32_t value = 0;
        if (!in.u32(0, &value))
            return failed(Platform::kErrorInvalidParameter);
        log(LogEntry::SelectConfiguration, value, 0);
        device->model->configurationSelected(uint8_t(value));
        return {true, 0, 0};
    }
    case SetDriverOption: {
        uint32_t value = 0;
        if (!in.u32(0, &value))
            return failed(Platform::kErrorInvalidParameter);
        log(LogEntry::DriverOption, value, 0);
        return {true, 0, 0};
    }
    case InterfaceList: {
        uint16_t match[4];
        for (int i = 0; i < 4; ++i) {
            if (!in.u16(size_t(2 * i), &match[i]))
                return failed(Platform::kErrorInvalidParameter);
        }
        const auto layout = ConfigurationLayout::parse(device->model->configurationDescriptor(0));
        std::vector<uint32_t> ids;
        for (size_t i = 0; i < layout.interfaces.size(); ++i) {
            const auto& f = layout.interfaces[i];
            const uint8_t have[4] = {f.interfaceClass, f.subClass, f.protocol, f.alternateSetting};
            bool ok = true;
            for (int k = 0; k < 4; ++k)
                ok = ok && (match[k] == 0xFFFF || match[k] == have[k]);
            if (ok)
                ids.push_back(uint32_t(i));
        }
        ByteWriter out(output, outputSize);
        if (!out.u32(0, uint32_t(ids.size())))
            return failed(Platform::kErrorInsufficientBuffer);
        const uint32_t total = uint32_t(4 + 4 * ids.size());
        if (outputSize < total)
            return {true, 4, 0};
        for (size_t i = 0; i < ids.size(); ++i)
            out.u32(4 + 4 * i, ids[i]);
        return {true, total, 0};
    }
    case InterfaceClass:
    case InterfaceNumber:
    case InterfaceSubClass:
    case InterfaceProtocol:
    case EndpointCount: {
        ConfigurationLayout layout;
        ConfigurationLayout::Interface* f = nullptr;
        if (!layoutInterface(layout, &f))
            return failed(Platform::kErrorInvalidParameter);
        const uint8_t value = function == InterfaceClass      ? f->interfaceClass
                              : function == InterfaceNumber   ? f->number
                              : function == InterfaceSubClass ? f->subClass
                              : function == InterfaceProtocol ? f->protocol
                                                              : uint8_t(f->endpoints.size());
        return word(output, outputSize, value);
    }
    case PipeProperties: {
        ConfigurationLayout layout;
        ConfigurationLayout::Interface* f = nullptr;
        uint32_t pipe = 0;
        if (!layoutInterface(layout, &f) || !in.u32(4, &pipe))
            return failed(Platform::kErrorInvalidParameter);
        if (pipe < 1 || pipe > f->endpoints.size()) {
            record(handle, Usbd::kInvalidPipeHandle);
            return failed(Platform::kErrorInvalidParameter);
        }
        const auto& e = f->endpoints[pipe - 1];
        ByteWriter out(output, outputSize);
        if (!out.fits(0, 6))
            return failed(Platform::kErrorInsufficientBuffer);
        out.u8(0, e.address & 0x80 ? 1 : 0);
        out.u8(1, e.attributes & 3);
        out.u16(2, e.maxPacketSize);
        out.u8(4, e.interval);
        out.u8(5, e.address);
        return {true, 6, 0};
    }
    case WritePipe:
    case ReadPipe:
        return pipeRequest(handle, device, function, input, inputSize, output, outputSize, nullptr);
    case ResetDevice:
        log(LogEntry::ResetDevice, 0, 0);
        device->model->resetDevice();
        return {true, 0, 0};
    case ResetPipe: {
        ConfigurationLayout layout;
        ConfigurationLayout::Interface* f = nullptr;
        uint32_t pipe = 0;
        if (!layoutInterface(layout, &f) || !in.u32(4, &pipe) || pipe < 1 ||
            pipe > f->endpoints.size())
            return failed(Platform::kErrorInvalidParameter);
        const uint8_t address = f->endpoints[pipe - 1].address;
        log(LogEntry::ResetPipe, pipe, address);
        device->model->resetPipe(address);
        return {true, 0, 0};
    }
    case ClaimInterface:
    case ReleaseInterface: {
        ConfigurationLayout layout;
        ConfigurationLayout::Interface* f = nullptr;
        if (!layoutInterface(layout, &f))
            return failed(Platform::kErrorInvalidParameter);
        std::lock_guard<std::mutex> lock(m_mutex);
        auto c = device->claims.find(f->number);
        if (function == ClaimInterface) {
            if (c != device->claims.end() && c->second != handle)
                return failed(Platform::kErrorBusy);
            device->claims[f->number] = handle;
        } else if (c != device->claims.end() && c->second == handle) {
            device->claims.erase(c);
        }
        return {true, 0, 0};
    }
    default:
        return failed(kErrorInvalidFunction);
    }
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
