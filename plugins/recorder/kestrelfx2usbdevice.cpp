#include "plugins/recorder/kestrelfx2usbdevice.h"

#include "plugins/recorder/diskrecorderinstance.h"
#include "plugins/recorder/settingsblock.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace CVN {
namespace DiskRecorder {

namespace {

struct ExpectedFirmware
{
    std::uint16_t productId;
    std::uint8_t fpgaVersion;
    std::uint32_t cpuChecksum;
};

constexpr ExpectedFirmware kExpectedFirmware[] = {
    {0xC34C, 0x1A, 0x570E71DA}, {0xC34D, 0x2D, 0x1A6291BD}, {0xC35A, 0x0A, 0xEADDC15D},
    {0xC367, 0x2C, 0xFF6F8B68}, {0xC3A3, 0x2C, 0xFF6F8B68},
};

void report(ProgressCallback progress, void* context, float fraction)
{
    if (progress)
        progress(context, fraction);
}

} // namespace

KestrelFX2USBDevice::KestrelFX2USBDevice(DiskRecorderInstance* instance)
    : m_instance(instance)
{
    if (m_instance)
        m_instance->AddRef();
}

KestrelFX2USBDevice::~KestrelFX2USBDevice()
{
    if (m_instance)
        m_instance->Release();
}

bool KestrelFX2USBDevice::readStatus(std::uint8_t& status)
{
    return m_instance && m_instance->readRegister(kStatusRegister, &status);
}

bool KestrelFX2USBDevice::isConnected()
{
    std::uint8_t alive = 0, status = 0;
    return m_instance && m_instance->readVendorByteD5(&alive) && alive != 0 && readStatus(status) &&
           (status & kCapabilityApplicationRunning);
}

bool KestrelFX2USBDevice::getProductId(std::uint16_t& productId)
{
    return m_instance && m_instance->productId(&productId);
}

void KestrelFX2USBDevice::getName(std::string&) {}

bool KestrelFX2USBDevice::getCapabilities(std::uint32_t& capabilities)
{
    std::uint8_t status = 0;
    if (!readStatus(status))
        return false;
    capabilities = status;
    return true;
}

bool KestrelFX2USBDevice::isFirmwareCurrent()
{
    std::uint16_t pid = 0;
    if (!getProductId(pid))
        return false;
    for (const ExpectedFirmware& expected : kExpectedFirmware) {
        if (expected.productId == pid)
            return fpgaVersion() == expected.fpgaVersion && cpuChecksum() == expected.cpuChecksum;
    }
    return false;
}

bool KestrelFX2USBDevice::setCodecMode(std::uint32_t)
{
    return true;
}

bool KestrelFX2USBDevice::shouldProgramType3()
{
    return true;
}

bool KestrelFX2USBDevice::prepareForUpdate()
{
    return true;
}

bool KestrelFX2USBDevice::rebootAfterUpdate()
{
    return true;
}

bool KestrelFX2USBDevice::isBusy(bool& busy)
{
    std::uint8_t status = 0;
    if (!readStatus(status))
        return false;
    busy = status & kCapabilityBusy;
    return true;
}

unsigned KestrelFX2USBDevice::fpgaVersion()
{
    std::uint8_t version = 0;
    return m_instance && m_instance->readRegister(kFpgaVersionRegister, &version) ? version : 0;
}

std::uint32_t KestrelFX2USBDevice::cpuChecksum()
{
    if (!m_instance)
        return 0;
    std::uint32_t checksum = 0;
    for (std::uint8_t i = 0; i < 4; ++i) {
        std::uint8_t byte = 0;
        if (!m_instance->readRegister(std::uint8_t(kChecksumRegister + i), &byte))
            return 0;
        checksum |= std::uint32_t(byte) << (8 * i);
    }
    return checksum;
}

bool KestrelFX2USBDevice::settingsChanged()
{
    std::uint8_t status = 0;
    return readStatus(status) && (status & kCapabilitySettingsChanged);
}

int KestrelFX2USBDevice::pollDataTaken(int polls, std::uint32_t intervalMs)
{
    using Clock = CVN::USB::WaitClock;
    const auto result = m_instance->clock().pollUntil(
        std::uint32_t(polls) * intervalMs, intervalMs,
        [this] {
            std::uint8_t value = 0;
            if (!m_instance->readRegister(kCommandRegister, &value))
                return Clock::Poll::Failed;
            return (value & kHostDataPending) ? Clock::Poll::Again : Clock::Poll::Ready;
        },
        Clock::FirstLook::AfterInterval);
    if (result == Clock::PollResult::Ready)
        return 1;
    return result == Clock::PollResult::Failed ? -1 : 0;
}

bool KestrelFX2USBDevice::setClock(std::uint32_t time)
{
    if (!m_instance || !m_instance->writeRegister(kCommandRegister, kSetClock))
        return false;
    std::array<std::uint8_t, kChunkSize> packet{};
    SettingsBlock::writeU32(packet.data(), time);
    if (!m_instance->bulkWrite(packet.data(), kChunkSize))
        return false;
    // A unit still busy with it after every poll has the time all the same.
    return pollDataTaken(kClockTakenPolls, kClockTakenPollMs) >= 0;
}

bool KestrelFX2USBDevice::readSettingsBlock(std::unique_ptr<SettingsBlock>& block)
{
    if (!m_instance)
        return false;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(SettingsBlock::kMaxSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!m_instance->writeRegister(kCommandRegister, kFirstReadChunk) ||
        !m_instance->bulkRead(buffer.data(), kChunkSize) ||
        !SettingsBlock::isValidHeader(buffer.data(), SettingsBlock::kHeaderSize))
        return false;
    const std::uint32_t total = SettingsBlock::readU32(buffer.data());
    std::uint32_t read = kChunkSize;
    while (read < total) {
        const std::uint32_t chunk = std::min(kChunkSize, total - read);
        if (!m_instance->writeRegister(kCommandRegister, kNextReadChunk) ||
            !m_instance->bulkRead(buffer.data() + read, chunk))
            return false;
        read += chunk;
    }
    if (!m_instance->writeRegister(kCommandRegister, kIdle) ||
        !SettingsBlock::checkItems(buffer.data(), total))
        return false;
    auto loaded = std::make_unique<SettingsBlock>();
    if (!loaded->load(buffer.data(), total))
        return false;
    block = std::move(loaded);
    return true;
}

bool KestrelFX2USBDevice::writeSettingsBlock(const SettingsBlock* block)
{
    if (!block || !m_instance)
        return false;
    const std::uint8_t* data = block->data();
    const std::uint32_t total = data ? block->totalLength() : 0;
    std::array<std::uint8_t, kChunkSize> packet;
    for (std::uint32_t sent = 0; sent < total;) {
        const std::uint32_t chunk = std::min(kChunkSize, total - sent);
        packet.fill(0);
        std::copy(data + sent, data + sent + chunk, packet.begin());
        if (!m_instance->writeRegister(kCommandRegister,
                                       sent == 0 ? kFirstWriteChunk : kNextWriteChunk) ||
            !m_instance->bulkWrite(packet.data(), kChunkSize) ||
            pollDataTaken(kChunkTakenPolls, kChunkTakenPollMs) != 1)
            return false;
        sent += chunk;
    }
    return m_instance->writeRegister(kCommandRegister, kIdle);
}

bool KestrelFX2USBDevice::program(ProgramType type, std::uint8_t target, std::uint32_t address,
                                  const std::uint8_t* data, std::uint32_t size,
                                  ProgressCallback progress, void* context)
{
    if (type != ProgramType::FlashImage || !m_instance || (size > 0 && !data))
        return false;
    if (!m_instance->setHardwareTarget(target)) {
        m_instance->endFlashUpdate(false);
        return false;
    }
    report(progress, context, -1.0f);
    const bool begun = m_instance->beginFlashUpdate(address, size);
    if (begun) {
        for (std::uint32_t done = 0; done < size;) {
            const std::uint32_t chunk = std::min(kProgramChunk, size - done);
            if (!m_instance->writeFlashData(data + done, chunk)) {
                m_instance->endFlashUpdate(false);
                return false;
            }
            done += chunk;
            report(progress, context, float(done) / float(size));
        }
    }
    const bool ended = m_instance->endFlashUpdate(false);
    return begun && ended;
}

} // namespace DiskRecorder
} // namespace CVN
