#include "sim/usbbus/simdriverfunctions.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "sim/usbbus/usbdstatus.h"

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

} // namespace

SimDriverFunctions::SimDriverFunctions(std::mutex& lock, SimHandleTable& handles)
    : m_mutex(lock)
    , m_handles(handles)
{
    using Self = SimDriverFunctions;
    auto bind = [this](IoStatus (Self::*method)(const Call&)) {
        return [this, method](const Call& call) { return (this->*method)(call); };
    };
    // A function that answers one word of the device's identity.
    auto identity = [](uint32_t (*field)(const DeviceIdentity&)) {
        return [field](const Call& call) {
            return word(call.output, call.outputSize, field(call.device->identity));
        };
    };
    m_table = {
        {Handshake, bind(&Self::handshake)},
        {ControlTransfer, bind(&Self::controlTransfer)},
        {DeviceClass, identity([](const DeviceIdentity& d) -> uint32_t { return d.deviceClass; })},
        {DeviceSubClass,
         identity([](const DeviceIdentity& d) -> uint32_t { return d.deviceSubClass; })},
        {ProductId, identity([](const DeviceIdentity& d) -> uint32_t { return d.productId; })},
        {DeviceProtocol,
         identity([](const DeviceIdentity& d) -> uint32_t { return d.deviceProtocol; })},
        {DeviceRevision, identity([](const DeviceIdentity& d) -> uint32_t { return d.revision; })},
        {DeviceSpeed, identity([](const DeviceIdentity& d) -> uint32_t { return d.speed; })},
        {VendorId, identity([](const DeviceIdentity& d) -> uint32_t { return d.vendorId; })},
        {ConfigurationCount,
         identity([](const DeviceIdentity& d) -> uint32_t { return d.configurationCount; })},
        {SerialNumberIndex, bind(&Self::serialNumberIndex)},
        {ConfigurationDescriptor, bind(&Self::configurationDescriptor)},
        {SelectConfiguration, bind(&Self::selectConfiguration)},
        {SetDriverOption, bind(&Self::setDriverOption)},
        {InterfaceList, bind(&Self::interfaceList)},
        {InterfaceClass, bind(&Self::interfaceProperty)},
        {InterfaceNumber, bind(&Self::interfaceProperty)},
        {InterfaceSubClass, bind(&Self::interfaceProperty)},
        {InterfaceProtocol, bind(&Self::interfaceProperty)},
        {EndpointCount, bind(&Self::interfaceProperty)},
        {PipeProperties, bind(&Self::pipeProperties)},
        {WritePipe, [this](const Call& call) { return pipeRequest(call, nullptr); }},
        {ReadPipe, [this](const Call& call) { return pipeRequest(call, nullptr); }},
        {ResetDevice, bind(&Self::resetDevice)},
        {ResetPipe, bind(&Self::resetPipe)},
        {ClaimInterface, bind(&Self::claimOrRelease)},
        {ReleaseInterface, bind(&Self::claimOrRelease)},
    };
}

IoStatus SimDriverFunctions::ioControl(DriverHandle handle, uint32_t code, const void* input,
                                       uint32_t inputSize, void* output, uint32_t outputSize)
{
    if ((code & 0xFFFFC003u) != 0x220000u)
        return failed(kErrorInvalidFunction);
    const uint32_t function = (code >> 2) & 0xFFF;
    std::shared_ptr<SimDevice> device = m_handles.deviceOf(handle);
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
        uint32_t usbd = 0;
        if (!m_handles.lastUsbd(handle, *device, &usbd))
            return failed(Platform::kErrorInvalidHandle);
        return word(out, outputSize, usbd);
    }
    if (!device->present)
        return failed(Platform::kErrorDeviceNotConnected);
    auto handler = m_table.find(function);
    if (handler == m_table.end())
        return failed(kErrorInvalidFunction);
    return handler->second({handle, device, function, in, inputSize, out, outputSize});
}

IoStatus SimDriverFunctions::ioControlAsync(DriverHandle handle, uint32_t code, const void* input,
                                            uint32_t inputSize, void* output, uint32_t outputSize,
                                            Platform::IoCompletion* completion)
{
    const uint32_t function = (code >> 2) & 0xFFF;
    if ((code & 0xFFFFC003u) != 0x220000u ||
        (function != WritePipeAsync && function != ReadPipeAsync) || !completion)
        return failed(kErrorInvalidFunction);
    std::shared_ptr<SimDevice> device = m_handles.deviceOf(handle);
    if (!device)
        return failed(Platform::kErrorInvalidHandle);
    if (!device->present)
        return failed(Platform::kErrorDeviceNotConnected);
    return pipeRequest({handle, device, function, static_cast<const uint8_t*>(input), inputSize,
                        static_cast<uint8_t*>(output), outputSize},
                       completion);
}

bool SimDriverFunctions::findInterface(const Call& call, ConfigurationLayout& layout,
                                       ConfigurationLayout::Interface** found)
{
    uint32_t interfaceId = 0;
    if (!ByteReader(call.input, call.inputSize).u32(0, &interfaceId))
        return false;
    layout = ConfigurationLayout::parse(call.device->model->configurationDescriptor(0));
    if (interfaceId >= layout.interfaces.size()) {
        m_handles.record(call.handle, Usbd::kInterfaceNotFound);
        return false;
    }
    *found = &layout.interfaces[interfaceId];
    return true;
}

void SimDriverFunctions::log(SimDevice& device, LogEntry::Kind kind, uint32_t value,
                             uint8_t endpoint)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LogEntry e;
    e.kind = kind;
    e.value = value;
    e.endpoint = endpoint;
    device.log.push_back(e);
}

IoStatus SimDriverFunctions::handshake(const Call& call)
{
    Faults f;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        f = call.device->faults;
    }
    uint8_t reply[8];
    ByteWriter w(reply, sizeof reply);
    w.u32(0, f.handshakeFirst);
    w.u32(4, f.handshakeSecond);
    const uint32_t n = f.handshakeSize < 8 ? f.handshakeSize : 8;
    if (call.outputSize < n)
        return failed(Platform::kErrorInsufficientBuffer);
    ByteWriter(call.output, call.outputSize).bytes(0, reply, n);
    return {true, n, 0};
}

IoStatus SimDriverFunctions::controlTransfer(const Call& call)
{
    ByteReader in(call.input, call.inputSize);
    uint8_t direction = 0, type = 0, recipient = 0;
    ControlSetup setup;
    uint32_t timeout = 0;
    if (!in.u8(0, &direction) || !in.u8(1, &type) || !in.u8(2, &recipient) ||
        !in.u8(3, &setup.request) || !in.u16(4, &setup.value) || !in.u16(6, &setup.index) ||
        !in.u16(8, &setup.length) || !in.u32(12, &timeout))
        return failed(Platform::kErrorInvalidParameter);
    if (call.inputSize != kControlHeader + setup.length || call.outputSize != call.inputSize) {
        m_handles.record(call.handle, Usbd::kInvalidParameter);
        return failed(Platform::kErrorInvalidParameter);
    }
    setup.requestType = uint8_t((direction & 1) << 7 | (type & 3) << 5 | (recipient & 0x1f));
    std::vector<uint8_t> data;
    if (!setup.isIn())
        data.assign(call.input + kControlHeader, call.input + call.inputSize);
    LogEntry entry;
    entry.kind = LogEntry::Control;
    entry.setup = setup;
    entry.data = data;
    auto transfer = std::make_shared<SimTransfer>(Transfer::Control, setup, 0, 0, std::move(data),
                                                  setup.isIn() ? setup.length : 0);
    IoStatus status =
        m_handles.runTransfer(call.handle, call.device, transfer, std::move(entry), timeout);
    if (!status.ok)
        return status;
    ByteWriter out(call.output, call.outputSize);
    out.bytes(0, call.input, kControlHeader);
    if (setup.isIn()) {
        auto reply = transfer->inData();
        out.bytes(kControlHeader, reply.data(), reply.size());
        return {true, uint32_t(kControlHeader + reply.size()), 0};
    }
    out.bytes(kControlHeader, call.input + kControlHeader, setup.length);
    return {true, call.inputSize, 0};
}

IoStatus SimDriverFunctions::serialNumberIndex(const Call& call)
{
    if (call.outputSize < 1)
        return failed(Platform::kErrorInsufficientBuffer);
    call.output[0] = call.device->identity.serialNumberIndex;
    return {true, 1, 0};
}

IoStatus SimDriverFunctions::configurationDescriptor(const Call& call)
{
    uint32_t index = 0;
    if (!ByteReader(call.input, call.inputSize).u32(0, &index) || index > 0xFF)
        return failed(Platform::kErrorInvalidParameter);
    const auto bytes = call.device->model->configurationDescriptor(uint8_t(index));
    if (bytes.empty()) {
        m_handles.record(call.handle, Usbd::kInvalidParameter);
        return failed(Platform::kErrorInvalidParameter);
    }
    const uint32_t total = uint32_t(4 + bytes.size());
    ByteWriter out(call.output, call.outputSize);
    if (!out.u32(0, total))
        return failed(Platform::kErrorInsufficientBuffer);
    if (call.outputSize < total)
        return {true, 4, 0};
    out.bytes(4, bytes.data(), bytes.size());
    return {true, total, 0};
}

IoStatus SimDriverFunctions::selectConfiguration(const Call& call)
{
    uint32_t value = 0;
    if (!ByteReader(call.input, call.inputSize).u32(0, &value))
        return failed(Platform::kErrorInvalidParameter);
    log(*call.device, LogEntry::SelectConfiguration, value, 0);
    call.device->model->configurationSelected(uint8_t(value));
    return {true, 0, 0};
}

IoStatus SimDriverFunctions::setDriverOption(const Call& call)
{
    uint32_t value = 0;
    if (!ByteReader(call.input, call.inputSize).u32(0, &value))
        return failed(Platform::kErrorInvalidParameter);
    log(*call.device, LogEntry::DriverOption, value, 0);
    return {true, 0, 0};
}

IoStatus SimDriverFunctions::interfaceList(const Call& call)
{
    ByteReader in(call.input, call.inputSize);
    uint16_t match[4];
    for (int i = 0; i < 4; ++i) {
        if (!in.u16(size_t(2 * i), &match[i]))
            return failed(Platform::kErrorInvalidParameter);
    }
    const auto layout = ConfigurationLayout::parse(call.device->model->configurationDescriptor(0));
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
    ByteWriter out(call.output, call.outputSize);
    if (!out.u32(0, uint32_t(ids.size())))
        return failed(Platform::kErrorInsufficientBuffer);
    const uint32_t total = uint32_t(4 + 4 * ids.size());
    if (call.outputSize < total)
        return {true, 4, 0};
    for (size_t i = 0; i < ids.size(); ++i)
        out.u32(4 + 4 * i, ids[i]);
    return {true, total, 0};
}

IoStatus SimDriverFunctions::interfaceProperty(const Call& call)
{
    ConfigurationLayout layout;
    ConfigurationLayout::Interface* f = nullptr;
    if (!findInterface(call, layout, &f))
        return failed(Platform::kErrorInvalidParameter);
    const uint32_t function = call.function;
    const uint8_t value = function == InterfaceClass      ? f->interfaceClass
                          : function == InterfaceNumber   ? f->number
                          : function == InterfaceSubClass ? f->subClass
                          : function == InterfaceProtocol ? f->protocol
                                                          : uint8_t(f->endpoints.size());
    return word(call.output, call.outputSize, value);
}

IoStatus SimDriverFunctions::pipeProperties(const Call& call)
{
    ConfigurationLayout layout;
    ConfigurationLayout::Interface* f = nullptr;
    uint32_t pipe = 0;
    if (!findInterface(call, layout, &f) || !ByteReader(call.input, call.inputSize).u32(4, &pipe))
        return failed(Platform::kErrorInvalidParameter);
    if (pipe < 1 || pipe > f->endpoints.size()) {
        m_handles.record(call.handle, Usbd::kInvalidPipeHandle);
        return failed(Platform::kErrorInvalidParameter);
    }
    const auto& e = f->endpoints[pipe - 1];
    ByteWriter out(call.output, call.outputSize);
    if (!out.fits(0, 6))
        return failed(Platform::kErrorInsufficientBuffer);
    out.u8(0, e.address & 0x80 ? 1 : 0);
    out.u8(1, e.attributes & 3);
    out.u16(2, e.maxPacketSize);
    out.u8(4, e.interval);
    out.u8(5, e.address);
    return {true, 6, 0};
}

IoStatus SimDriverFunctions::resetDevice(const Call& call)
{
    log(*call.device, LogEntry::ResetDevice, 0, 0);
    call.device->model->resetDevice();
    return {true, 0, 0};
}

IoStatus SimDriverFunctions::resetPipe(const Call& call)
{
    ConfigurationLayout layout;
    ConfigurationLayout::Interface* f = nullptr;
    uint32_t pipe = 0;
    if (!findInterface(call, layout, &f) || !ByteReader(call.input, call.inputSize).u32(4, &pipe) ||
        pipe < 1 || pipe > f->endpoints.size())
        return failed(Platform::kErrorInvalidParameter);
    const uint8_t address = f->endpoints[pipe - 1].address;
    log(*call.device, LogEntry::ResetPipe, pipe, address);
    call.device->model->resetPipe(address);
    return {true, 0, 0};
}

IoStatus SimDriverFunctions::claimOrRelease(const Call& call)
{
    ConfigurationLayout layout;
    ConfigurationLayout::Interface* f = nullptr;
    if (!findInterface(call, layout, &f))
        return failed(Platform::kErrorInvalidParameter);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& claims = call.device->claims;
    auto c = claims.find(f->number);
    if (call.function == ClaimInterface) {
        if (c != claims.end() && c->second != call.handle)
            return failed(Platform::kErrorBusy);
        claims[f->number] = call.handle;
    } else if (c != claims.end() && c->second == call.handle) {
        claims.erase(c);
    }
    return {true, 0, 0};
}

IoStatus SimDriverFunctions::pipeRequest(const Call& call, Platform::IoCompletion* completion)
{
    ByteReader r(call.input, call.inputSize);
    uint8_t interfaceId = 0;
    uint8_t pipe = 0;
    uint32_t length = 0;
    uint32_t timeout = 0;
    if (call.inputSize < kPipeBlock || !r.u8(0, &interfaceId) || !r.u8(1, &pipe) ||
        !r.u32(4, &length) || !r.u32(8, &timeout))
        return failed(Platform::kErrorInvalidParameter);
    const bool write = call.function == WritePipe || call.function == WritePipeAsync;
    if (write ? call.inputSize - kPipeBlock != length : call.outputSize < length)
        return failed(Platform::kErrorInvalidParameter);
    const auto layout = ConfigurationLayout::parse(call.device->model->configurationDescriptor(0));
    if (interfaceId >= layout.interfaces.size())
        return failed(Platform::kErrorInvalidParameter);
    const auto& iface = layout.interfaces[interfaceId];
    if (pipe < 1 || pipe > iface.endpoints.size()) {
        m_handles.record(call.handle, Usbd::kInvalidPipeHandle);
        return failed(Platform::kErrorInvalidParameter);
    }
    const auto& endpoint = iface.endpoints[pipe - 1];
    if (bool(endpoint.address & 0x80) == write) {
        m_handles.record(call.handle, Usbd::kInvalidPipeHandle);
        return failed(Platform::kErrorInvalidParameter);
    }
    std::vector<uint8_t> data;
    if (write)
        data.assign(call.input + kPipeBlock, call.input + kPipeBlock + length);
    LogEntry entry;
    entry.kind = write ? LogEntry::BulkOut : LogEntry::BulkIn;
    entry.endpoint = endpoint.address;
    entry.value = length;
    entry.data = data;
    auto transfer = std::make_shared<SimTransfer>(write ? Transfer::BulkOut : Transfer::BulkIn,
                                                  ControlSetup(), iface.number, endpoint.address,
                                                  std::move(data), write ? 0 : length);
    if (completion)
        return m_handles.startTransfer(call.handle, call.device, transfer, std::move(entry),
                                       call.output, completion);
    IoStatus status =
        m_handles.runTransfer(call.handle, call.device, transfer, std::move(entry), timeout);
    if (status.ok && !write) {
        auto in = transfer->inData();
        ByteWriter(call.output, call.outputSize).bytes(0, in.data(), in.size());
    }
    return status;
}

} // namespace Sim
