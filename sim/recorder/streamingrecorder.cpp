#include "sim/recorder/streamingrecorder.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "sim/usbbus/usbdstatus.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr uint8_t kReboot = 0x12;
constexpr uint32_t kVersionTextBytes = 10;
constexpr uint32_t kCodecNameBytes = 64;

const std::set<std::string>& knownCodecs()
{
    static const std::set<std::string> names = {
        "ProRes:HQ", "ProRes:Original", "ProRes:LT", "ProRes:Proxy", "DNx:HD220x",
        "DNx:HD145", "DNx:HD45",        "DNx:HRHQX", "DNx:HRSQ",     "DNx:HRLB",
        "H264:High", "H264:Medium",     "H264:Low"};
    return names;
}

std::vector<uint8_t> u32Bytes(uint32_t value)
{
    std::vector<uint8_t> bytes(4, 0);
    Platform::ByteWriter(bytes.data(), bytes.size()).u32(0, value);
    return bytes;
}

// The bytes of a text in a fixed buffer: cut to it, padded with zeros.
std::vector<uint8_t> fixedText(const std::string& text, uint32_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    std::copy_n(text.begin(), std::min<size_t>(text.size(), size), bytes.begin());
    return bytes;
}

std::string textOf(const RpcCall& call)
{
    if (call.inputBuffers.empty())
        return std::string();
    const auto& b = call.inputBuffers.front();
    return std::string(b.begin(), b.end());
}

// A forwarding transfer whose answer the link may change before the host sees it.
class ObservedTransfer : public Transfer
{
public:
    using Hook = std::function<void(uint32_t* status, std::vector<uint8_t>* in)>;
    ObservedTransfer(TransferPtr inner, Hook hook)
        : m_inner(std::move(inner))
        , m_hook(std::move(hook))
    {
    }
    Kind kind() const override { return m_inner->kind(); }
    ControlSetup setup() const override { return m_inner->setup(); }
    uint8_t interfaceNumber() const override { return m_inner->interfaceNumber(); }
    uint8_t endpoint() const override { return m_inner->endpoint(); }
    const std::vector<uint8_t>& outData() const override { return m_inner->outData(); }
    uint32_t inLength() const override { return m_inner->inLength(); }
    bool isCancelled() const override { return m_inner->isCancelled(); }
    void complete(uint32_t usbdStatus, const std::vector<uint8_t>& inData) override
    {
        uint32_t status = usbdStatus;
        std::vector<uint8_t> in = inData;
        m_hook(&status, &in);
        m_inner->complete(status, in);
    }

private:
    TransferPtr m_inner;
    Hook m_hook;
};

} // namespace

XmegaUnit::Options StreamingRecorder::defaultOptions()
{
    Options options;
    options.productId = kProductId;
    options.uniqueId = {{0x46, 0x49, 0x4E, 0x43, 0x48, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
    return options;
}

StreamingRecorder::StreamingRecorder(Options options)
    : XmegaUnit(std::move(options))
{
    addServices();
}

void StreamingRecorder::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    if (setup.type() != 2 || isBootloader()) {
        XmegaUnit::control(transfer);
        return;
    }
    if (setup.request == kReboot && setup.value == 0) {
        // A unit back from an update starts from its factory network values.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_network = Network();
        m_otherInterfaces.clear();
    }
    if (setup.request == kReboot)
        m_link.reset();
    const std::vector<uint8_t> out = transfer->outData();
    switch (m_link.before(setup, out)) {
    case StrictStreamLink::Verdict::Stall:
        transfer->complete(Usbd::kStall);
        return;
    case StrictStreamLink::Verdict::Swallow:
        transfer->complete(Usbd::kSuccess);
        return;
    case StrictStreamLink::Verdict::Pass:
        break;
    }
    StrictStreamLink* link = &m_link;
    XmegaUnit::control(std::make_shared<ObservedTransfer>(
        transfer, [link, setup, out](uint32_t* status, std::vector<uint8_t>* in) {
            link->after(setup, out, status, in);
        }));
}

void StreamingRecorder::addServices()
{
    using Handler = int32_t (StreamingRecorder::*)(const RpcCall&, std::vector<uint8_t>*);
    auto add = [this](const std::string& name, Handler handler) {
        rpc().addService(name,
                         [this, name, handler](const RpcCall& call, std::vector<uint8_t>* payload) {
                             std::lock_guard<std::mutex> lock(m_mutex);
                             m_calls.emplace_back(name, call.method);
                             auto failure = m_failures.find({name, call.method});
                             if (failure != m_failures.end())
                                 return failure->second;
                             return (this->*handler)(call, payload);
                         });
    };
    add("SettingsFinch", &StreamingRecorder::settingsFinch);
    add("NetConfig", &StreamingRecorder::netConfig);
    add("RTC", &StreamingRecorder::rtc);
    add("Version", &StreamingRecorder::version);
    add("KestrelTransport", &StreamingRecorder::kestrelTransport);
}

int32_t StreamingRecorder::settingsFinch(const RpcCall& call, std::vector<uint8_t>* payload)
{
    switch (call.method) {
    case 2:
        *payload = {m_network.value0};
        return 0;
    case 4:
        *payload = u32Bytes(m_network.value1);
        return 0;
    case 6:
        *payload = u32Bytes(m_network.value2);
        return 0;
    case 8:
        *payload = u32Bytes(m_network.value3);
        return 0;
    default:
        return kUnknownMethod;
    }
}

int32_t StreamingRecorder::netConfig(const RpcCall& call, std::vector<uint8_t>*)
{
    Platform::ByteReader r(call.input.data(), call.input.size());
    uint32_t index = 0, value = 0;
    uint8_t byte = 0;
    if (!r.u32(0, &index))
        return kUnknownMethod;
    Network& network = index == 0 ? m_network : m_otherInterfaces[index];
    switch (call.method) {
    case 12:
        if (call.input.size() != 5 || !r.u8(4, &byte))
            return kUnknownMethod;
        network.value0 = byte;
        return 0;
    case 14:
    case 16:
    case 18:
        if (call.input.size() != 8 || !r.u32(4, &value))
            return kUnknownMethod;
        (call.method == 14   ? network.value1
         : call.method == 16 ? network.value2
                             : network.value3) = value;
        return 0;
    default:
        return kUnknownMethod;
    }
}

int32_t StreamingRecorder::rtc(const RpcCall& call, std::vector<uint8_t>*)
{
    Platform::ByteReader r(call.input.data(), call.input.size());
    uint32_t seconds = 0, second = 0;
    if (call.method != 0 || call.input.size() != 8 || !r.u32(0, &seconds) || !r.u32(4, &second))
        return kUnknownMethod;
    m_clock = {seconds, second};
    return 0;
}

int32_t StreamingRecorder::version(const RpcCall& call, std::vector<uint8_t>* payload)
{
    const std::string name = textOf(call);
    switch (call.method) {
    case 0: {
        if (call.outputBufferSizes.size() != 1)
            return kUnknownMethod;
        const std::string text = name == "/sys/apps" ? m_softwareText : std::string();
        *payload = fixedText(text, std::min(kVersionTextBytes, call.outputBufferSizes[0]));
        payload->resize(call.outputBufferSizes[0], 0);
        return 0;
    }
    case 1:
        *payload = u32Bytes(name == "/sys/apps" ? m_cpuVersion : 0);
        return 0;
    case 10:
        *payload = u32Bytes(m_fpgaVersion);
        return 0;
    default:
        return kUnknownMethod;
    }
}

int32_t StreamingRecorder::kestrelTransport(const RpcCall& call, std::vector<uint8_t>* payload)
{
    Platform::ByteReader r(call.input.data(), call.input.size());
    switch (call.method) {
    case 100:
        if (call.outputBufferSizes.size() != 1)
            return kUnknownMethod;
        *payload =
            fixedText(m_transport.codecName, std::min(kCodecNameBytes, call.outputBufferSizes[0]));
        payload->resize(call.outputBufferSizes[0], 0);
        return 0;
    case 103:
        *payload = {m_transport.container};
        return 0;
    case 104: {
        uint8_t container = 0;
        if (!r.u8(0, &container))
            return kUnknownMethod;
        const std::string name = textOf(call);
        const bool known = knownCodecs().count(name) && container >= 1 && container <= 3;
        if (known) {
            m_transport.codecName = name;
            m_transport.container = container;
        }
        *payload = u32Bytes(known ? 0 : 1);
        return 0;
    }
    case 1010: {
        uint32_t trigger = 0;
        if (!r.u32(0, &trigger))
            return kUnknownMethod;
        m_transport.trigger = trigger;
        return 0;
    }
    case 1011:
        *payload = u32Bytes(m_transport.trigger);
        return 0;
    default:
        return kUnknownMethod;
    }
}

StreamingRecorder::Network StreamingRecorder::network() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_network;
}

void StreamingRecorder::setNetwork(const Network& network)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_network = network;
}

StreamingRecorder::Transport StreamingRecorder::transport() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transport;
}

void StreamingRecorder::setTransport(const Transport& transport)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transport = transport;
}

void StreamingRecorder::setVersions(const std::string& softwareText, uint32_t cpuVersion,
                                    uint8_t fpgaVersion)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_softwareText = softwareText;
    m_cpuVersion = cpuVersion;
    m_fpgaVersion = fpgaVersion;
}

void StreamingRecorder::setVersionsAfterInstall(const std::string& softwareText,
                                                uint32_t cpuVersion, uint8_t fpgaVersion)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_versionsAfterInstall = Versions{softwareText, cpuVersion, fpgaVersion};
}

void StreamingRecorder::startedNewFirmware()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_versionsAfterInstall)
        return;
    m_softwareText = m_versionsAfterInstall->softwareText;
    m_cpuVersion = m_versionsAfterInstall->cpuVersion;
    m_fpgaVersion = m_versionsAfterInstall->fpgaVersion;
}

std::pair<uint32_t, uint32_t> StreamingRecorder::clock() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clock;
}

void StreamingRecorder::refuseService(const std::string& name, bool refuse)
{
    rpc().setOpenResult(name, refuse ? XmegaRpcServer::kNoService : 0);
}

void StreamingRecorder::failCall(const std::string& service, uint32_t method, int32_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (status == 0)
        m_failures.erase({service, method});
    else
        m_failures[{service, method}] = status;
}

std::vector<std::pair<std::string, uint32_t>> StreamingRecorder::serviceCalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

} // namespace Sim
