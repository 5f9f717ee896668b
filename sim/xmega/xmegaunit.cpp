#include "sim/xmega/xmegaunit.h"

#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbdstatus.h"
#include "sim/xmega/xmegawords.h"

#include <utility>

namespace Sim {

namespace {

DeviceIdentity identityFor(const XmegaUnit::Options& options)
{
    DeviceIdentity identity;
    identity.vendorId = XmegaUnit::kVendorId;
    identity.productId = options.productId;
    identity.revision = 0x0100;
    identity.instance = options.instance;
    return identity;
}

} // namespace

XmegaUnit::XmegaUnit()
    : XmegaUnit(Options())
{
}

XmegaUnit::XmegaUnit(Options options)
    : SimpleUsbDevice(identityFor(options), {})
    , m_options(std::move(options))
    , m_bootloader(m_options.bootloader)
    , m_streamLink(m_rpc, m_options.initialTid, m_options.replyChunkPayload)
{
    setConfiguration(configuration(m_bootloader));
    addTarget(0, 64 * 1024, 512, 64);
    install();
}

XmegaUnit::~XmegaUnit() = default;

std::vector<uint8_t> XmegaUnit::configuration(bool bootloader) const
{
    ConfigurationBuilder builder;
    builder.interface(0, 0, 0xFF, 0xFF, 0xFF);
    // The boot loader has no bulk pipes.
    if (!bootloader)
        builder.bulkOut(0x01, m_options.packetSize).bulkIn(0x81, m_options.packetSize);
    return builder.build();
}

DeviceIdentity XmegaUnit::identity() const
{
    DeviceIdentity identity = SimpleUsbDevice::identity();
    std::lock_guard<std::mutex> lock(m_state);
    identity.productId = m_bootloader ? kBootloaderProductId : m_options.productId;
    return identity;
}

void XmegaUnit::setFaults(const XmegaFaults& faults)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_faults = faults;
    m_requests = 0;
    m_programmer.setFaults(faults);
    m_streamLink.setFaults(faults);
}

int XmegaUnit::stalls() const
{
    return m_streamLink.stalls();
}

XmegaUnit::Gate XmegaUnit::gate(const ControlSetup& setup)
{
    ++m_requests;
    if (m_faults.stallRequest && m_requests == m_faults.stallRequest)
        return Gate::Stall;
    if (m_faults.noReplyTo == setup.request)
        return Gate::Drop;
    if (!m_bootloader && (setup.request == StreamWriteChunk || setup.request == StreamReadChunk) &&
        m_streamLink.stallChunk())
        return Gate::Stall;
    return Gate::Pass;
}

void XmegaUnit::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    if (setup.type() == 2) {
        Gate g;
        {
            std::lock_guard<std::mutex> lock(m_state);
            g = gate(setup);
        }
        if (g == Gate::Stall) {
            transfer->complete(Usbd::kStall);
            return;
        }
        if (g == Gate::Drop)
            return;
    }
    SimpleUsbDevice::control(transfer);
    // Out of update mode, the unit starts what has just been written into it.
    if (setup.type() == 2 && setup.request == LeaveUpdateMode && !isBootloader() &&
        !m_programmer.inUpdateMode() && m_programmer.takeWritten())
        startedNewFirmware();
    // Only once the reply has gone out, however slowly this thread runs.
    RebootAsked asked = NoReboot;
    {
        std::lock_guard<std::mutex> lock(m_state);
        std::swap(asked, m_rebootAfterReply);
    }
    if (asked != NoReboot)
        reboot(asked == RebootToBootloader);
}

void XmegaUnit::bulk(const TransferPtr& transfer)
{
    if (transfer->kind() != Transfer::BulkOut || transfer->endpoint() != 0x01) {
        SimpleUsbDevice::bulk(transfer);
        return;
    }
    transfer->complete(m_programmer.download(transfer->outData()));
}

void XmegaUnit::install()
{
    // Requests of the application stall in the boot loader and the other way round.
    auto app = [this](uint8_t type, uint8_t request,
                      std::function<uint32_t(const ControlSetup&, Out, In)> f) {
        onControl(type, request, [this, f](const ControlSetup& s, Out out, In in) {
            if (isBootloader())
                return Usbd::kStall;
            return f(s, out, in);
        });
    };
    auto boot = [this](uint8_t type, uint8_t request,
                       std::function<uint32_t(const ControlSetup&, Out, In)> f) {
        onControl(type, request, [this, f](const ControlSetup& s, Out out, In in) {
            if (!isBootloader())
                return Usbd::kStall;
            return f(s, out, in);
        });
    };

    onControl(kIn, Identify, [this](const ControlSetup&, Out, In in) {
        *in = {uint8_t(isBootloader() ? 1 : 0)};
        return Usbd::kSuccess;
    });
    onControl(0xC0, Identify, [this](const ControlSetup&, Out, In in) {
        const auto id = uniqueId();
        in->assign(id.begin(), id.end());
        return Usbd::kSuccess;
    });
    onControl(kIn, Checksums, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        *in = xmegaWords({m_checksums[0], m_checksums[1]});
        return Usbd::kSuccess;
    });
    onControl(kOut, Reboot, [this](const ControlSetup& s, Out, In) {
        if (s.value > 1)
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_state);
        m_rebootAfterReply = s.value == 1 ? RebootToBootloader : RebootToApplication;
        return Usbd::kSuccess;
    });

    m_programmer.install(app);
    m_window.install(
        app,
        [this](uint32_t address, uint8_t* out, uint32_t size) {
            return readMemory(address, out, size);
        },
        [this](uint32_t address, const uint8_t* data, uint32_t size) {
            return writeMemory(address, data, size);
        });
    m_bootLoader.install(boot);

    // Streaming link.
    app(kIn, ProtocolVersion, [this](const ControlSetup&, Out, In in) {
        *in = {uint8_t(m_options.protocolVersion), uint8_t(m_options.protocolVersion >> 8)};
        return Usbd::kSuccess;
    });
    m_streamLink.install(app);
}

bool XmegaUnit::isBootloader() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_bootloader;
}

std::array<uint8_t, 16> XmegaUnit::uniqueId() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_options.uniqueId;
}

void XmegaUnit::setChecksums(uint32_t first, uint32_t second)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_checksums[0] = first;
    m_checksums[1] = second;
}

void XmegaUnit::addTarget(uint16_t target, uint32_t size, uint32_t erasePageSize,
                          uint32_t writeBlockSize)
{
    m_programmer.addTarget(target, size, erasePageSize, writeBlockSize);
}

XmegaUnit::Target XmegaUnit::target(uint16_t target) const
{
    return m_programmer.target(target);
}

void XmegaUnit::setTargetBytes(uint16_t target, std::vector<uint8_t> bytes)
{
    m_programmer.setTargetBytes(target, std::move(bytes));
}

void XmegaUnit::overrideGeometry(uint32_t erasePageSize, uint32_t writeBlockSize)
{
    m_programmer.overrideGeometry(erasePageSize, writeBlockSize);
}

void XmegaUnit::setErasePolls(int polls)
{
    m_programmer.setErasePolls(polls);
}

void XmegaUnit::setBusyPolls(int polls)
{
    m_programmer.setBusyPolls(polls);
}

void XmegaUnit::stayBusy(int polls)
{
    m_programmer.stayBusy(polls);
}

bool XmegaUnit::inUpdateMode() const
{
    return m_programmer.inUpdateMode();
}

void XmegaUnit::setBootloaderBlockSize(uint32_t size)
{
    m_bootLoader.setBlockSize(size);
}

std::vector<uint8_t> XmegaUnit::bootloaderImage() const
{
    return m_bootLoader.image();
}

bool XmegaUnit::bootloaderDownloadDone() const
{
    return m_bootLoader.downloadDone();
}

std::vector<uint16_t> XmegaUnit::bootloaderBlockIndexes() const
{
    return m_bootLoader.blockIndexes();
}

std::vector<uint8_t> XmegaUnit::memory(uint32_t address, uint32_t size) const
{
    return m_window.memory(address, size);
}

bool XmegaUnit::readMemory(uint32_t address, uint8_t* out, uint32_t size)
{
    return m_window.read(address, out, size);
}

bool XmegaUnit::writeMemory(uint32_t address, const uint8_t* data, uint32_t size)
{
    return m_window.write(address, data, size);
}

void XmegaUnit::setReady(bool ready)
{
    m_streamLink.setReady(ready);
}

bool XmegaUnit::streamEnabled() const
{
    return m_streamLink.enabled();
}

uint8_t XmegaUnit::transactionId() const
{
    return m_streamLink.transactionId();
}

void XmegaUnit::setNextRawReply(std::vector<uint8_t> bytes)
{
    m_streamLink.setNextRawReply(std::move(bytes));
}

int XmegaUnit::rebootRequests() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_rebootRequests;
}

void XmegaUnit::reboot(bool toBootloader)
{
    UsbBus* b = bus();
    const DeviceId current = id();
    if (!b || !current)
        return;
    {
        std::lock_guard<std::mutex> lock(m_state);
        ++m_rebootRequests;
        if (m_faults.applicationWontStart)
            toBootloader = true;
    }
    std::shared_ptr<XmegaUnit> self = shared_from_this();
    // The reply to the reboot request goes out first; then the unit leaves and comes back.
    b->post(m_options.rebootDelayMs, [self, b, current, toBootloader] {
        bool gone = false;
        bool newFirmware = false;
        {
            std::lock_guard<std::mutex> lock(self->m_state);
            // Written and never started: a restart into the application starts it.
            const bool imageTaken = self->m_bootloader && self->m_bootLoader.downloadDone();
            self->m_newFirmware =
                self->m_programmer.takeWritten() || imageTaken || self->m_newFirmware;
            if (!toBootloader)
                newFirmware = std::exchange(self->m_newFirmware, false);
            self->m_bootloader = toBootloader;
            self->m_programmer.rebooted();
            self->m_bootLoader.rebooted();
            self->m_streamLink.rebooted();
            gone = self->m_faults.rebootNeverReturns;
        }
        if (newFirmware && !gone)
            self->startedNewFirmware();
        self->setConfiguration(self->configuration(toBootloader));
        if (gone)
            b->unplug(current);
        else
            b->reenumerate(current);
    });
}

} // namespace Sim
