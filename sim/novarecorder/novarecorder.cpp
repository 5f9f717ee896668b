#include "sim/novarecorder/novarecorder.h"

#include "platform/bytewriter.h"
#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbbus.h"
#include "sim/usbbus/usbdstatus.h"

namespace Sim {

namespace {

DeviceIdentity identityOf(const NovaRecorder::Options& options)
{
    DeviceIdentity identity;
    identity.vendorId = NovaRecorder::kVendorId;
    identity.productId = options.productId;
    identity.revision = options.revision;
    identity.serialNumberIndex = NovaRecorder::kSerialIndex;
    identity.instance = options.serial;
    return identity;
}

} // namespace

NovaRecorder::NovaRecorder(Options options)
    : SimpleUsbDevice(identityOf(options), {})
    , m_options(options)
    , m_streaming(options.bulkPacketSize)
    , m_dfu(options.dfu,
            [this](bool application) {
                afterAnswer([this, application] { reenumerate(application); });
            })
    , m_tunnel(
          options.tunnel,
          [this] {
              UsbBus* bus = this->bus();
              const DeviceId id = this->id();
              if (bus && id)
                  bus->unplug(id);
          },
          [this](NovaTunnelFunction::Clock::time_point due, std::function<void()> work) {
              // Work for a unit that has left the bus is dropped: its transfers failed.
              UsbBus* bus = this->bus();
              if (!bus)
                  return;
              std::weak_ptr<NovaRecorder> weak = weak_from_this();
              bus->postAt(due, [weak, work = std::move(work)] {
                  if (auto self = weak.lock())
                      work();
              });
          })
{
    setString(kSerialIndex, options.serial);
    m_keyValue.setCapabilities(options.capabilities);
    m_keyValue.setValue("DeviceName", "Kestrel Alder One");
    m_keyValue.setValue("BuildId", "0A1B2C3D");
    m_keyValue.setValue("ReleaseVersion", "8.4");
    m_streaming.rpc().addService(
        "SystemProperties", [this](const RpcCall& call, std::vector<uint8_t>* payload) {
            if (call.method != kGetProperty || call.inputBuffers.empty() ||
                call.outputBufferSizes.empty())
                return int32_t(1);
            const std::string key(call.inputBuffers[0].begin(), call.inputBuffers[0].end());
            const std::string value = m_keyValue.value(key);
            payload->assign(call.outputLength, 0);
            Platform::ByteWriter(payload->data(), payload->size()).u32(0, value.empty() ? 0 : 1);
            std::vector<uint8_t> text(call.outputBufferSizes[0], 0);
            for (size_t i = 0; i < value.size() && i < text.size(); ++i)
                text[i] = uint8_t(value[i]);
            payload->insert(payload->end(), text.begin(), text.end());
            return int32_t(0);
        });
    m_streaming.rpc().addService("Echo", XmegaRpcServer::echoService());
    applyPersona(options.bootloader);
}

NovaRecorder::NovaRecorder()
    : NovaRecorder(Options())
{
}

NovaRecorder::~NovaRecorder() = default;

void NovaRecorder::setFaults(const Faults& faults)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_faults = faults;
    }
    m_streaming.setFaults(faults.streaming);
    m_tunnel.setFaults(faults.tunnel);
    m_dfu.setFaults(faults.dfu);
    applyPersona(isBootloader());
}

bool NovaRecorder::isBootloader() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootloader;
}

int NovaRecorder::reenumerations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reenumerations;
}

uint8_t NovaRecorder::dfuInterface() const
{
    return isBootloader() ? 1 : 2;
}

void NovaRecorder::applyPersona(bool bootloader)
{
    uint8_t keyValueLength = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bootloader = bootloader;
        keyValueLength = m_faults.keyValueDescriptorLength;
    }
    ConfigurationBuilder config;
    config.interface(kKeyValueInterface, 0, 0xFF, 3, 0)
        .descriptor(NovaKeyValueFunction::kDescriptorType,
                    m_keyValue.descriptorBody(keyValueLength));
    if (bootloader) {
        config.interface(1, 0, 0xFE, 1, 2);
        m_keyValue.setStatus(kBootloaderBootMode);
        m_dfu.enterBootloader();
    } else {
        config.interface(kStreamingInterface, 0, 0xFF, 2, 0);
        if (m_options.bulkStreaming)
            config.bulkOut(0x01, m_options.bulkPacketSize).bulkIn(0x81, m_options.bulkPacketSize);
        config.interface(2, 0, 0xFE, 1, 1).descriptor(0x21, m_dfu.descriptorBody());
        config.interface(kTunnelInterface, 0, 0xFF, 5, 0);
        if (m_options.bulkTunnel)
            config.bulkOut(kTunnelOut, m_options.tunnel.maxPacket)
                .bulkIn(kTunnelIn, m_options.tunnel.maxPacket);
        m_keyValue.setStatus(kApplicationBootMode);
        m_dfu.enterApplication();
    }
    if (bootloader)
        config.descriptor(0x21, m_dfu.descriptorBody());
    setConfiguration(config.build());
}

void NovaRecorder::reenumerate(bool application)
{
    UsbBus* bus = this->bus();
    if (!bus)
        return;
    std::weak_ptr<NovaRecorder> weak = weak_from_this();
    // From the bus's worker, so the request that led here is answered first.
    bus->post(m_options.reenumerateDelayMs, [weak, bus, application] {
        auto self = weak.lock();
        if (!self)
            return;
        const DeviceId id = self->id();
        if (!id)
            return;
        bool gone = false;
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            ++self->m_reenumerations;
            gone = self->m_faults.neverComesBack;
        }
        if (gone) {
            bus->unplug(id);
            return;
        }
        if (application && self->m_dfu.installs() > 0) {
            for (const auto& [key, value] : self->m_options.valuesAfterInstall)
                self->m_keyValue.setValue(key, value);
        }
        self->applyPersona(!application);
        bus->reenumerate(id, self);
    });
}

void NovaRecorder::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    // Class requests to an interface go to that interface's function.
    if (setup.type() == 1 && setup.recipient() == 1) {
        const uint8_t number = uint8_t(setup.index);
        std::vector<uint8_t> in;
        uint32_t status = Usbd::kStall;
        if (number == kKeyValueInterface)
            status = m_keyValue.control(setup, transfer->outData(), &in);
        else if (number == dfuInterface())
            status = m_dfu.control(setup, transfer->outData(), &in);
        else if (number == kStreamingInterface && !isBootloader())
            status = m_streaming.control(setup, transfer->outData(), &in);
        else if (number == kTunnelInterface && !isBootloader())
            return m_tunnel.control(transfer);
        transfer->complete(status, in);
        return;
    }
    // The driver hands a control IN buffer back whole: what the unit sends is padded.
    if (setup.isIn() && setup.requestType == 0x80 && setup.request == 6) {
        std::vector<uint8_t> in;
        const uint32_t status = standardRequest(setup, &in);
        if (status == Usbd::kSuccess && in.size() < setup.length)
            in.resize(setup.length, 0);
        transfer->complete(status, in);
        return;
    }
    SimpleUsbDevice::control(transfer);
}

void NovaRecorder::bulk(const TransferPtr& transfer)
{
    if (transfer->interfaceNumber() == kTunnelInterface) {
        if (transfer->kind() == Transfer::BulkOut)
            m_tunnel.bulkOut(transfer);
        else
            m_tunnel.bulkIn(transfer);
        return;
    }
    if (transfer->kind() == Transfer::BulkOut)
        m_streaming.bulkOut(transfer);
    else
        m_streaming.bulkIn(transfer);
}

void NovaRecorder::resetDevice()
{
    m_dfu.usbReset();
}

void NovaRecorder::resetPipe(uint8_t endpoint)
{
    if (endpoint != kTunnelOut && endpoint != kTunnelIn)
        return;
    m_tunnel.resetPipe(endpoint);
    // A read started before the reset may still be on its way here through the bus's
    // worker: a second sweep there, behind it, aborts that one too.
    UsbBus* bus = this->bus();
    if (endpoint != kTunnelIn || !bus)
        return;
    std::weak_ptr<NovaRecorder> weak = weak_from_this();
    bus->post(0, [weak] {
        if (auto self = weak.lock())
            self->m_tunnel.resetPipe(kTunnelIn);
    });
}

void NovaRecorder::detached()
{
    m_streaming.reset();
    m_tunnel.reset();
    SimpleUsbDevice::detached();
}

} // namespace Sim
