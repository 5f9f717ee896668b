#include "sim/xmega/xmegaunit.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbdstatus.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr uint8_t kIn = 0xC1;
constexpr uint8_t kOut = 0x41;

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes(values.size() * 4, 0);
    Platform::ByteWriter w(bytes.data(), bytes.size());
    size_t at = 0;
    for (uint32_t v : values) {
        w.u32(at, v);
        at += 4;
    }
    return bytes;
}

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
    , m_tid(m_options.initialTid)
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
    m_chunkRequests = 0;
    m_wrongSequence = faults.wrongSequenceOnce;
}

int XmegaUnit::stalls() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_stalls;
}

XmegaUnit::Gate XmegaUnit::gate(const ControlSetup& setup)
{
    ++m_requests;
    if (m_faults.stallRequest && m_requests == m_faults.stallRequest)
        return Gate::Stall;
    if (m_faults.noReplyTo == setup.request)
        return Gate::Drop;
    if (!m_bootloader && (setup.request == StreamWriteChunk || setup.request == StreamReadChunk)) {
        ++m_chunkRequests;
        if (m_faults.stallEvery && m_chunkRequests % m_faults.stallEvery == 0) {
            ++m_stalls;
            return Gate::Stall;
        }
    }
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
    const std::vector<uint8_t>& data = transfer->outData();
    uint32_t status = Usbd::kSuccess;
    {
        std::lock_guard<std::mutex> lock(m_state);
        auto t = m_targets.find(m_selected);
        if (!data.empty()) {
            if (!m_downloading || t == m_targets.end() ||
                m_downloadAddress + data.size() > t->second.bytes.size()) {
                status = Usbd::kStall;
            } else {
                for (size_t i = 0; i < data.size(); ++i)
                    t->second.bytes[size_t(m_downloadAddress) + i] &= data[i];
                m_downloadAddress += data.size();
                m_busyLeft = m_busyPolls;
            }
        }
    }
    transfer->complete(status);
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
        *in = u32s({m_checksums[0], m_checksums[1]});
        return Usbd::kSuccess;
    });
    onControl(kOut, Reboot, [this](const ControlSetup& s, Out, In) {
        if (s.value > 1)
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_state);
        m_rebootAfterReply = s.value == 1 ? RebootToBootloader : RebootToApplication;
        return Usbd::kSuccess;
    });

    // Programming.
    app(kIn, Status, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        const bool busy = m_busyLeft > 0;
        if (busy)
            --m_busyLeft;
        *in = {uint8_t(m_updateMode), uint8_t(busy), uint8_t(m_erasePollsLeft > 0), 0, 0, 0};
        return Usbd::kSuccess;
    });
    app(kOut, EnterUpdateMode, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        m_updateMode = true;
        return Usbd::kSuccess;
    });
    app(kOut, LeaveUpdateMode, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        if (!m_faults.stuckInUpdateMode)
            m_updateMode = false;
        m_downloading = false;
        return Usbd::kSuccess;
    });
    app(kOut, SelectTarget, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        if (!m_targets.count(s.value))
            return Usbd::kStall;
        m_selected = s.value;
        return Usbd::kSuccess;
    });
    app(kIn, Geometry, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        const Target& t = m_targets[m_selected];
        const uint32_t erase = m_geometryOverride ? m_overrideErase : t.erasePageSize;
        const uint32_t write = m_geometryOverride ? m_overrideWrite : t.writeBlockSize;
        *in = u32s({uint32_t(t.bytes.size()), 0, erase, write});
        return Usbd::kSuccess;
    });
    app(kOut, Erase, [this](const ControlSetup&, Out out, In) {
        Platform::ByteReader r(out.data(), out.size());
        uint32_t first = 0, count = 0;
        if (out.size() != 8 || !r.u32(0, &first) || !r.u32(4, &count))
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_state);
        auto t = m_targets.find(m_selected);
        if (!m_updateMode || t == m_targets.end() ||
            (uint64_t(first) + count) * t->second.erasePageSize > t->second.bytes.size())
            return Usbd::kStall;
        m_eraseStart = first;
        m_eraseEnd = first + count;
        m_eraseDone = 0;
        m_erasePollsLeft = std::max(1, m_erasePolls);
        return Usbd::kSuccess;
    });
    app(kIn, EraseStatus, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        const uint32_t count = m_eraseEnd - m_eraseStart;
        if (m_erasePollsLeft > 0 && !m_faults.eraseError) {
            --m_erasePollsLeft;
            const int polls = std::max(1, m_erasePolls);
            const uint32_t done =
                uint32_t(uint64_t(count) * uint32_t(polls - m_erasePollsLeft) / uint32_t(polls));
            Target& t = m_targets[m_selected];
            const size_t from = size_t(m_eraseStart + m_eraseDone) * t.erasePageSize;
            const size_t to = size_t(m_eraseStart + done) * t.erasePageSize;
            std::fill(t.bytes.begin() + long(from), t.bytes.begin() + long(to), uint8_t(0xFF));
            m_eraseDone = done;
        } else if (m_faults.eraseError) {
            m_erasePollsLeft = 0;
        }
        const uint16_t busy = uint16_t(m_erasePollsLeft > 0 ? count - m_eraseDone : 0);
        *in = u32s({m_eraseStart, m_eraseDone, m_eraseEnd});
        in->push_back(uint8_t(busy));
        in->push_back(uint8_t(busy >> 8));
        in->push_back(uint8_t(m_faults.eraseError ? 1 : 0));
        return Usbd::kSuccess;
    });
    app(kOut, StartDownload, [this](const ControlSetup&, Out out, In) {
        uint32_t first = 0;
        if (out.size() != 4 || !Platform::ByteReader(out.data(), 4).u32(0, &first))
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_state);
        if (!m_updateMode || !m_targets.count(m_selected))
            return Usbd::kStall;
        m_downloadAddress = uint64_t(first) * m_targets[m_selected].writeBlockSize;
        m_downloading = true;
        return Usbd::kSuccess;
    });

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
    app(kOut, EnableStream, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        m_streamEnabled = s.value != 0;
        return Usbd::kSuccess;
    });
    app(kOut, StreamReset, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        m_tid = uint8_t(s.value);
        m_incoming.clear();
        m_nextChunk = 0;
        return Usbd::kSuccess;
    });
    app(kOut, StreamWriteChunk, [this](const ControlSetup& s, Out out, In) {
        std::vector<uint8_t> message;
        {
            std::lock_guard<std::mutex> lock(m_state);
            if (s.value == 0) {
                m_incoming.clear();
                m_nextChunk = 0;
            }
            if (s.value != m_nextChunk)
                return Usbd::kStall;
            m_incoming.insert(m_incoming.end(), out.begin(), out.end());
            ++m_nextChunk;
            uint32_t total = 0;
            if (!Platform::ByteReader(m_incoming.data(), m_incoming.size()).u32(0, &total) ||
                m_incoming.size() < total)
                return Usbd::kSuccess;
            message.assign(m_incoming.begin(), m_incoming.begin() + long(total));
            m_incoming.clear();
            m_nextChunk = 0;
            m_replyPending = false;
            if (m_faults.rpcNeverReplies)
                return Usbd::kSuccess;
        }
        // Services run without the unit's lock; the reply is ready before the host asks.
        std::vector<uint8_t> reply = m_rpc.handle(message);
        std::lock_guard<std::mutex> lock(m_state);
        if (m_haveRawReply) {
            reply = std::move(m_rawReply);
            m_haveRawReply = false;
        }
        m_reply = std::move(reply);
        m_replyChunk = 0;
        m_replyPending = true;
        return Usbd::kSuccess;
    });
    app(kIn, StreamBufferStatus, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        uint32_t length = m_replyPending ? uint32_t(currentChunkLocked().size()) : 0;
        if (m_replyPending && m_faults.announceChunkLength)
            length = m_faults.announceChunkLength;
        *in = u32s({length});
        in->push_back(uint8_t(m_replyPending));
        in->push_back(1);
        in->push_back(m_tid);
        return Usbd::kSuccess;
    });
    app(kIn, StreamReadChunk, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        if (!m_replyPending)
            return Usbd::kStall;
        *in = currentChunkLocked();
        return Usbd::kSuccess;
    });
    app(kIn, StreamReady, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_state);
        *in = {uint8_t(m_ready)};
        return Usbd::kSuccess;
    });
    app(kOut, StreamReplyAck, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        if (!m_replyPending)
            return Usbd::kStall;
        m_wrongSequence = false;
        ++m_replyChunk;
        if (uint64_t(m_replyChunk) * m_options.replyChunkPayload >= m_reply.size()) {
            m_replyPending = false;
            m_reply.clear();
        }
        return Usbd::kSuccess;
    });
    app(kOut, StreamReplyRestart, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_state);
        // The host starts the reply again from its first chunk.
        if (m_replyPending) {
            m_wrongSequence = false;
            m_replyChunk = 0;
        }
        return Usbd::kSuccess;
    });
}

std::vector<uint8_t> XmegaUnit::currentChunkLocked() const
{
    const size_t payload = std::max<size_t>(1, m_options.replyChunkPayload);
    const size_t from = std::min(m_reply.size(), size_t(m_replyChunk) * payload);
    const size_t to = std::min(m_reply.size(), from + payload);
    const uint32_t sequence = m_replyChunk + (m_wrongSequence ? 1 : 0);
    const uint32_t total =
        m_faults.announceTotal ? m_faults.announceTotal : uint32_t(m_reply.size());
    std::vector<uint8_t> chunk = u32s({sequence, total});
    chunk.insert(chunk.end(), m_reply.begin() + long(from), m_reply.begin() + long(to));
    return chunk;
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
    std::lock_guard<std::mutex> lock(m_state);
    Target& t = m_targets[target];
    t.erasePageSize = erasePageSize;
    t.writeBlockSize = writeBlockSize;
    t.bytes.assign(size, 0xFF);
}

XmegaUnit::Target XmegaUnit::target(uint16_t target) const
{
    std::lock_guard<std::mutex> lock(m_state);
    auto it = m_targets.find(target);
    return it == m_targets.end() ? Target() : it->second;
}

void XmegaUnit::setTargetBytes(uint16_t target, std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_targets[target].bytes = std::move(bytes);
}

void XmegaUnit::overrideGeometry(uint32_t erasePageSize, uint32_t writeBlockSize)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_geometryOverride = true;
    m_overrideErase = erasePageSize;
    m_overrideWrite = writeBlockSize;
}

void XmegaUnit::setErasePolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_erasePolls = polls;
}

void XmegaUnit::setBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_busyPolls = polls;
}

void XmegaUnit::stayBusy(int polls)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_busyLeft = polls;
}

bool XmegaUnit::inUpdateMode() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_updateMode;
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
    std::lock_guard<std::mutex> lock(m_state);
    m_ready = ready;
}

bool XmegaUnit::streamEnabled() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_streamEnabled;
}

uint8_t XmegaUnit::transactionId() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_tid;
}

void XmegaUnit::setNextRawReply(std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(m_state);
    m_rawReply = std::move(bytes);
    m_haveRawReply = true;
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
        {
            std::lock_guard<std::mutex> lock(self->m_state);
            self->m_bootloader = toBootloader;
            self->m_updateMode = false;
            self->m_downloading = false;
            // A restart ends an erase or write under way.
            self->m_erasePollsLeft = 0;
            self->m_busyLeft = 0;
            self->m_bootLoader.rebooted();
            self->m_streamEnabled = false;
            self->m_replyPending = false;
            self->m_incoming.clear();
            gone = self->m_faults.rebootNeverReturns;
        }
        self->setConfiguration(self->configuration(toBootloader));
        if (gone)
            b->unplug(current);
        else
            b->reenumerate(current);
    });
}

} // namespace Sim
