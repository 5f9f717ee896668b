#include "sim/deckcontroller/deckcontrollerunit.h"

#include "platform/bytereader.h"
#include "sim/deckcontroller/zynqbootimage.h"
#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbdstatus.h"

#include <algorithm>
#include <functional>

namespace Sim {

namespace {

constexpr uint8_t kVendorIn = 0xC1;
constexpr uint8_t kVendorOut = 0x41;
constexpr uint8_t kClassIn = 0xA1;
constexpr uint8_t kClassOut = 0x21;
constexpr uint16_t kStreamInterface = 1;
constexpr uint32_t kPacketsPerChunk = 512;

XmegaUnit::Options baseOptions(const DeckControllerUnit::DeckOptions& deck)
{
    XmegaUnit::Options options;
    options.productId = DeckControllerUnit::kProductId;
    options.uniqueId = deck.uniqueId;
    options.bootloader = deck.bootloader;
    options.packetSize = deck.xmegaPacketSize;
    options.protocolVersion = deck.protocolVersion;
    return options;
}

// A status request whose reply gets the read-status flag put into byte 3 on its way out.
class StatusTransfer : public Transfer
{
public:
    StatusTransfer(TransferPtr inner, std::function<uint8_t()> flag)
        : m_inner(std::move(inner))
        , m_flag(std::move(flag))
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
        std::vector<uint8_t> data = inData;
        if (usbdStatus == Usbd::kSuccess && data.size() > 3)
            data[3] = m_flag();
        m_inner->complete(usbdStatus, data);
    }

private:
    TransferPtr m_inner;
    std::function<uint8_t()> m_flag;
};

} // namespace

DeckControllerUnit::DeckControllerUnit()
    : DeckControllerUnit(DeckOptions())
{
}

DeckControllerUnit::DeckControllerUnit(DeckOptions options)
    : XmegaUnit(baseOptions(options))
    , m_deck(options)
{
    addTarget(0, 2 * kBankSize, m_deck.eraseUnit, m_deck.pageSize);
    m_services.install(rpc());
    installDeckRequests();
}

DeckControllerUnit::~DeckControllerUnit() = default;

std::vector<uint8_t> DeckControllerUnit::configurationDescriptor(uint8_t index) const
{
    if (index != 0)
        return {};
    ConfigurationBuilder builder;
    builder.interface(0, 0, 0xFF, 0xFF, 0xFF);
    if (!isBootloader())
        builder.bulkOut(0x01, m_deck.xmegaPacketSize)
            .bulkIn(kMemoryIn, m_deck.xmegaPacketSize)
            .interface(1, 0, 0xFF, 2, 0)
            .bulkOut(kStreamOut, m_deck.streamPacketSize)
            .bulkIn(kStreamIn, m_deck.streamPacketSize);
    return builder.build();
}

void DeckControllerUnit::installDeckRequests()
{
    using Out = const std::vector<uint8_t>&;
    using In = std::vector<uint8_t>*;
    // Requests of the running unit; its XMEGA boot loader stalls them.
    auto running = [this](uint8_t type, uint8_t request,
                          std::function<uint32_t(const ControlSetup&, Out, In)> f) {
        onControl(type, request, [this, f](const ControlSetup& s, Out out, In in) {
            if (isBootloader())
                return Usbd::kStall;
            return f(s, out, in);
        });
    };

    running(kVendorIn, 0x00, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_persona != Persona::Recovery)
            return Usbd::kStall;
        *in = {1, 0, 0, 0};
        return Usbd::kSuccess;
    });
    running(kVendorOut, 0x60, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streaming = s.value != 0;
        m_streamState = m_streaming ? 6 : 0;
        return Usbd::kSuccess;
    });
    running(kClassIn, 0x01, [this](const ControlSetup& s, Out, In in) {
        if (s.index != kStreamInterface)
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_mutex);
        uint8_t state = m_streaming ? m_streamState : 0;
        if (state == 2 && m_streamBusyLeft > 0) {
            --m_streamBusyLeft;
            state = 5;
        }
        *in = {state};
        return Usbd::kSuccess;
    });
    running(kClassOut, 0x00, [this](const ControlSetup& s, Out, In) {
        if (s.index != kStreamInterface)
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_streaming)
            return Usbd::kStall;
        m_incoming.clear();
        m_streamState = 6;
        return Usbd::kSuccess;
    });
    running(kVendorOut, 0x3A, [this](const ControlSetup&, Out out, In) {
        uint32_t address = 0;
        if (out.size() != 4 || !Platform::ByteReader(out.data(), 4).u32(0, &address))
            return Usbd::kStall;
        uint16_t selected = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            selected = m_selectedTarget;
        }
        // Nothing writes while the unit serves a read: one look at the flash serves it all.
        std::vector<uint8_t> flash = target(selected).bytes;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reading = true;
        m_readAddress = address;
        m_readFlash = std::move(flash);
        return Usbd::kSuccess;
    });
    running(kVendorOut, 0x3B, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reading = false;
        m_readFlash.clear();
        m_readStatusLeft = m_faults.readStatusPolls;
        return Usbd::kSuccess;
    });
}

void DeckControllerUnit::setDeckFaults(const DeckControllerFaults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
    m_steps = 0;
}

bool DeckControllerUnit::takeStep()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_powered)
            return false;
        ++m_steps;
        if (m_faults.powerCutAfterStep == 0 || m_steps <= m_faults.powerCutAfterStep)
            return true;
        m_faults.powerCutAfterStep = 0;
        m_powered = false;
        ++m_powerCuts;
    }
    cutPower();
    return false;
}

void DeckControllerUnit::cutPower()
{
    bool gone = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gone = m_faults.powerNeverReturns;
    }
    if (!gone) {
        // The XMEGA restarts as after a reboot: out of update mode, into its application.
        reboot(false);
    } else if (UsbBus* b = bus()) {
        b->unplug(id());
    }
}

void DeckControllerUnit::setFirmwareAfterInstall(const std::string& releaseText,
                                                 uint32_t fpgaVersion, uint32_t cpuChecksum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firmwareAfterInstall = Firmware{releaseText, fpgaVersion, cpuChecksum};
}

void DeckControllerUnit::powerCycle()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_powered = false;
    }
    reboot(false);
}

void DeckControllerUnit::attached(UsbBus* bus, DeviceId id)
{
    XmegaUnit::attached(bus, id);
    // Power-up: the boot ROM takes the first bank whose header holds.
    const bool bootloader = isBootloader();
    const std::vector<uint8_t> flash = target(0).bytes;
    int booted = -1;
    for (int b = 0; b < 2 && !bootloader && booted < 0; ++b)
        if (flash.size() >= (b + 1) * size_t(kBankSize) &&
            ZynqBootImage::bootable(flash.data() + b * size_t(kBankSize), kBankSize))
            booted = b;
    std::vector<uint8_t> image;
    if (booted >= 0)
        image.assign(flash.begin() + booted * long(kBankSize),
                     flash.begin() + (booted + 1) * long(kBankSize));
    std::optional<Firmware> installed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The first power-up runs the factory's image; a later one that runs another runs an
        // update.
        if (booted >= 0 && !m_runningImage.empty() && image != m_runningImage)
            installed = m_firmwareAfterInstall;
        if (booted >= 0)
            m_runningImage = std::move(image);
    }
    if (installed) {
        DeckControllerServices::State state = m_services.state();
        state.releaseText = installed->releaseText;
        state.fpgaVersion = installed->fpgaVersion;
        state.cpuChecksum = installed->cpuChecksum;
        m_services.setState(state);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_powered = true;
    m_bootedBank = booted;
    m_persona =
        bootloader ? Persona::Bootloader : (booted >= 0 ? Persona::Application : Persona::Recovery);
    m_streaming = !bootloader;
    m_streamState = m_streaming ? 6 : 0;
    m_streamBusyLeft = 0;
    m_incoming.clear();
    m_reading = false;
    m_readFlash.clear();
    m_readStatusLeft = 0;
    m_selectedTarget = 0;
}

void DeckControllerUnit::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    if (setup.type() != 0 && !takeStep()) {
        transfer->complete(Usbd::kDeviceNotResponding);
        return;
    }
    if (setup.requestType == kVendorOut && setup.request == 0x34 &&
        !target(setup.value).bytes.empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_selectedTarget = setup.value;
    }
    if (setup.requestType == kVendorIn && setup.request == 0x30) {
        XmegaUnit::control(std::make_shared<StatusTransfer>(transfer, [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_readStatusLeft <= 0)
                return uint8_t(0);
            --m_readStatusLeft;
            return uint8_t(1);
        }));
        return;
    }
    XmegaUnit::control(transfer);
}

void DeckControllerUnit::bulk(const TransferPtr& transfer)
{
    if (!takeStep()) {
        transfer->complete(Usbd::kDeviceNotResponding);
        return;
    }
    if (transfer->kind() == Transfer::BulkOut && transfer->endpoint() == kStreamOut) {
        streamOut(transfer);
        return;
    }
    if (transfer->kind() == Transfer::BulkIn && transfer->endpoint() == kMemoryIn) {
        memoryIn(transfer);
        return;
    }
    XmegaUnit::bulk(transfer);
}

XmegaRpcServer& DeckControllerUnit::streamServer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_persona == Persona::Recovery ? m_recoveryServer : rpc();
}

void DeckControllerUnit::streamOut(const TransferPtr& transfer)
{
    const std::vector<uint8_t>& data = transfer->outData();
    std::vector<uint8_t> message;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_streaming) {
            transfer->complete(Usbd::kStall);
            return;
        }
        m_incoming.insert(m_incoming.end(), data.begin(), data.end());
        // A short packet (an empty one included) ends the message.
        if (!data.empty() && data.size() % m_deck.streamPacketSize == 0) {
            transfer->complete(Usbd::kSuccess);
            return;
        }
        message.swap(m_incoming);
    }
    // Services run without the unit's lock.
    const std::vector<uint8_t> reply = streamServer().handle(message);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_messages;
        m_streamBusyLeft = m_faults.streamBusyPolls;
        m_streamState = 2;
    }
    queueIn(kStreamIn, reply);
    // A reply of whole chunks is ended by an empty read.
    if (reply.size() % (size_t(m_deck.streamPacketSize) * kPacketsPerChunk) == 0)
        queueIn(kStreamIn, {});
    transfer->complete(Usbd::kSuccess);
}

void DeckControllerUnit::memoryIn(const TransferPtr& transfer)
{
    std::vector<uint8_t> data;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_reading || m_readAddress >= m_readFlash.size()) {
            transfer->complete(Usbd::kStall);
            return;
        }
        const size_t n = std::min<size_t>(transfer->inLength(), m_readFlash.size() - m_readAddress);
        const auto from = m_readFlash.begin() + long(m_readAddress);
        data.assign(from, from + long(n));
        m_readAddress += uint32_t(n);
    }
    transfer->complete(Usbd::kSuccess, data);
}

DeckControllerUnit::Persona DeckControllerUnit::persona() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_persona;
}

int DeckControllerUnit::bootedBank() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootedBank;
}

std::vector<uint8_t> DeckControllerUnit::bank(int bank) const
{
    const std::vector<uint8_t> flash = target(0).bytes;
    const size_t from = size_t(bank) * kBankSize;
    if (bank < 0 || from + kBankSize > flash.size())
        return {};
    return std::vector<uint8_t>(flash.begin() + long(from), flash.begin() + long(from + kBankSize));
}

bool DeckControllerUnit::bankBootable(int b) const
{
    const std::vector<uint8_t> bytes = bank(b);
    return ZynqBootImage::bootable(bytes.data(), bytes.size());
}

void DeckControllerUnit::setBank(int bank, const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> flash = target(0).bytes;
    const size_t from = size_t(bank) * kBankSize;
    if (bank < 0 || from + kBankSize > flash.size())
        return;
    std::fill(flash.begin() + long(from), flash.begin() + long(from + kBankSize), uint8_t(0xFF));
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), kBankSize),
                flash.begin() + long(from));
    setTargetBytes(0, std::move(flash));
}

int DeckControllerUnit::steps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_steps;
}

int DeckControllerUnit::powerCuts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_powerCuts;
}

int DeckControllerUnit::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

} // namespace Sim
