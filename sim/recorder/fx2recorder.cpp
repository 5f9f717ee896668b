#include "sim/recorder/fx2recorder.h"

#include "sim/usbbus/usbdstatus.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr uint8_t kCommandRegister = 3;
constexpr uint8_t kHostDataPending = 0x40;

enum Fx2Command : uint8_t {
    kIdle = 0x00,
    kNextReadChunk = 0x01,
    kNextWriteChunk = 0x41,
    kSetClock = 0x42,
    kFirstReadChunk = 0x81,
    kFirstWriteChunk = 0xC1,
};

bool hasWidePackets(uint16_t productId)
{
    return productId == 0xC34D || productId == 0xC367 || productId == 0xC3A3;
}

} // namespace

Fx2Recorder::Fx2Recorder(uint16_t productId, bool firmwareRunning)
    : Fx2Device(0x2C4A, productId, firmwareRunning)
{
    Fx2BlockFlash::Geometry geometry;
    geometry.pageSize = hasWidePackets(productId) ? 256 : 64;
    for (uint8_t mode = 1; mode <= 4; ++mode) {
        geometry.blockCount = mode == 1 ? 256 : 16;
        auto flash = std::make_shared<Fx2BlockFlash>(geometry, Fx2BlockFlash::Paged);
        m_flashes[mode] = flash;
        attachPeripheral(mode, flash);
    }
    setRegister(1, 0x01);
    setRegister(2, 0x31);
}

std::shared_ptr<Fx2BlockFlash> Fx2Recorder::flash(uint8_t modeValue) const
{
    auto it = m_flashes.find(modeValue);
    return it == m_flashes.end() ? nullptr : it->second;
}

void Fx2Recorder::setFirmware(uint8_t fpgaVersion, uint32_t cpuChecksum)
{
    setRegister(1, fpgaVersion);
    for (uint8_t i = 0; i < 4; ++i)
        setRegister(uint8_t(8 + i), uint8_t(cpuChecksum >> (8 * i)));
}

void Fx2Recorder::setFirmwareAfterInstall(uint8_t fpgaVersion, uint32_t cpuChecksum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firmwareAfterInstall = std::make_pair(fpgaVersion, cpuChecksum);
}

int Fx2Recorder::flashWrites() const
{
    int writes = 0;
    for (const auto& [mode, flash] : m_flashes)
        writes += flash->writes();
    return writes;
}

void Fx2Recorder::restarted()
{
    const int writes = flashWrites();
    std::optional<std::pair<uint8_t, uint32_t>> installed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (writes == m_flashWritesSeen)
            return;
        m_flashWritesSeen = writes;
        installed = m_firmwareAfterInstall;
    }
    if (installed)
        setFirmware(installed->first, installed->second);
}

void Fx2Recorder::setStatus(uint8_t status)
{
    setRegister(2, status);
}

uint32_t Fx2Recorder::clock() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clock;
}

int Fx2Recorder::clockSets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clockSets;
}

int Fx2Recorder::packetsTaken() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packetsTaken;
}

void Fx2Recorder::setBusyReads(int reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyReads = reads;
}

void Fx2Recorder::cutPacket(int n, int bytesShort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cutAt = n;
    m_cutBy = bytesShort;
}

uint32_t Fx2Recorder::vendorRequest(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                    std::vector<uint8_t>* in)
{
    const uint32_t status = Fx2Device::vendorRequest(setup, out, in);
    if (setup.request == Fx2Peripheral::LeaveHardwareAccess && status == Usbd::kSuccess)
        restarted();
    if (setup.request == 0xD2 && status == Usbd::kSuccess && out.size() == 2 && out[0] == 0 &&
        (out[1] == 1 || out[1] == 2))
        armPacket(out[1] == 1);
    return status;
}

void Fx2Recorder::armPacket(bool first)
{
    std::vector<uint8_t> packet;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_command != kFirstReadChunk && m_command != kNextReadChunk)
            return;
        m_packet = first ? 0 : m_packet + 1;
        const size_t start = size_t(m_chunk) * kChunkSize + size_t(m_packet) * kPacketSize;
        packet.assign(kPacketSize, 0);
        for (size_t i = 0; i < kPacketSize && start + i < m_outgoing.size(); ++i)
            packet[i] = m_outgoing[start + i];
        if (m_cutAt > 0 && --m_cutAt == 0)
            packet.resize(packet.size() - std::min<size_t>(packet.size(), size_t(m_cutBy)));
    }
    queueIn(kDataIn, std::move(packet));
}

void Fx2Recorder::registerWritten(uint8_t reg, uint8_t value)
{
    if (reg != kCommandRegister)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_command = value;
    m_packetTaken = false;
    switch (value) {
    case kFirstReadChunk:
        m_outgoing = m_settings.block();
        m_chunk = 0;
        m_packet = 0;
        break;
    case kNextReadChunk:
        ++m_chunk;
        m_packet = 0;
        break;
    case kFirstWriteChunk:
        m_incoming.clear();
        break;
    case kIdle:
        // A block that never reached its length is dropped.
        m_incoming.clear();
        m_outgoing.clear();
        break;
    default:
        break;
    }
}

uint8_t Fx2Recorder::registerRead(uint8_t reg)
{
    if (reg != kCommandRegister)
        return Fx2Device::registerRead(reg);
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t value = m_command;
    if (!(value & kHostDataPending))
        return value;
    if (!m_packetTaken)
        return value;
    if (m_busyReadsLeft != 0) {
        if (m_busyReadsLeft > 0)
            --m_busyReadsLeft;
        return value;
    }
    m_command = uint8_t(value & ~kHostDataPending);
    return m_command;
}

uint32_t Fx2Recorder::dataBulkOut(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> complete;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool settings = m_command == kFirstWriteChunk || m_command == kNextWriteChunk;
        if ((!settings && m_command != kSetClock) || m_packetTaken || data.size() != kChunkSize)
            return Usbd::kStall;
        m_packetTaken = true;
        m_busyReadsLeft = m_busyReads;
        ++m_packetsTaken;
        if (m_command == kSetClock) {
            m_clock = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 |
                      data[3];
            ++m_clockSets;
            return Usbd::kSuccess;
        }
        m_incoming.insert(m_incoming.end(), data.begin(), data.end());
        const auto total = RecorderSettingsStore::declaredLength(m_incoming);
        const bool usable = total && *total >= RecorderSettingsStore::kHeaderSize &&
                            *total <= RecorderSettingsStore::kMaxSize;
        if (!usable) {
            // Refused as it stands: no length to wait for.
            complete.swap(m_incoming);
        } else if (*total <= m_incoming.size()) {
            m_incoming.resize(*total);
            complete.swap(m_incoming);
        }
    }
    if (!complete.empty())
        m_settings.apply(complete);
    return Usbd::kSuccess;
}

} // namespace Sim
