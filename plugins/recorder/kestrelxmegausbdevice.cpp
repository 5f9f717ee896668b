#include "plugins/recorder/kestrelxmegausbdevice.h"

#include "plugins/recorder/kestrelmodeltable.h"
#include "plugins/recorder/settingsblock.h"
#include "plugins/recorder/xmegamailbox.h"

#include <algorithm>
#include <functional>
#include <new>
#include <vector>

namespace CVN {
namespace DiskRecorder {

namespace {

constexpr std::uint16_t kProductId = 0xC3A6;
constexpr std::uint8_t kExpectedXmegaFpgaVersion = 0x10;
constexpr std::uint32_t kExpectedCpuChecksum = 0x16327E57;
constexpr std::uint8_t kNoApplication = 255;

// Tells the caller's callback how far the download is.
class DownloadProgress : public XmegaUSBDevice::ProgressCallback
{
public:
    DownloadProgress(CVN::DiskRecorder::ProgressCallback callback, void* context, float from = 0.0f,
                     float span = 1.0f)
        : m_callback(callback)
        , m_context(context)
        , m_from(from)
        , m_span(span)
    {
    }
    void progress(std::uint32_t index, std::uint32_t total) override
    {
        if (m_callback && total)
            m_callback(m_context, m_from + m_span * float(index) / float(total));
    }

private:
    CVN::DiskRecorder::ProgressCallback m_callback;
    void* m_context;
    float m_from;
    float m_span;
};

} // namespace

KestrelXmegaUSBDevice::KestrelXmegaUSBDevice(const Handle& handle)
    : m_handle(handle)
{
}

KestrelXmegaUSBDevice::~KestrelXmegaUSBDevice() = default;

bool KestrelXmegaUSBDevice::readStatus(std::uint8_t& status)
{
    return XmegaMailbox(m_handle.current()).readRegister(XmegaMailbox::kStatusRegister, status);
}

bool KestrelXmegaUSBDevice::isConnected()
{
    XmegaMailbox mailbox(m_handle.current());
    std::uint8_t fpga = 0, status = 0;
    return mailbox.readRegister(XmegaMailbox::kFpgaVersionRegister, fpga) &&
           fpga < kNoApplication && mailbox.readRegister(XmegaMailbox::kStatusRegister, status) &&
           (status & kCapabilityApplicationRunning);
}

bool KestrelXmegaUSBDevice::getProductId(std::uint16_t& productId)
{
    std::shared_ptr<XmegaUSBDevice> device = m_handle.current();
    return device && device->getProductId(productId);
}

void KestrelXmegaUSBDevice::getName(std::string& name)
{
    std::uint16_t pid = 0;
    const int model =
        getProductId(pid) ? KestrelModelTable::model(pid) : KestrelModelTable::UnknownModel;
    name = KestrelModelTable::name(model).toStdString();
}

bool KestrelXmegaUSBDevice::getCapabilities(std::uint32_t& capabilities)
{
    std::uint8_t status = 0;
    if (!readStatus(status))
        return false;
    capabilities = status;
    return true;
}

bool KestrelXmegaUSBDevice::isFirmwareCurrent()
{
    std::uint16_t pid = 0;
    return getProductId(pid) && pid == kProductId && fpgaVersion() == kExpectedXmegaFpgaVersion &&
           cpuChecksum() == kExpectedCpuChecksum;
}

bool KestrelXmegaUSBDevice::setCodecMode(std::uint32_t)
{
    return true;
}

bool KestrelXmegaUSBDevice::shouldProgramType3()
{
    return true;
}

bool KestrelXmegaUSBDevice::prepareForUpdate()
{
    return true;
}

bool KestrelXmegaUSBDevice::rebootAfterUpdate()
{
    return true;
}

bool KestrelXmegaUSBDevice::isBusy(bool& busy)
{
    std::uint8_t status = 0;
    if (!readStatus(status)) {
        busy = false;
        return false;
    }
    busy = status & kCapabilityBusy;
    return true;
}

bool KestrelXmegaUSBDevice::settingsChanged()
{
    std::uint8_t status = 0;
    return readStatus(status) && (status & kCapabilitySettingsChanged);
}

unsigned KestrelXmegaUSBDevice::fpgaVersion()
{
    return XmegaMailbox(m_handle.current()).readFpgaVersion();
}

std::uint32_t KestrelXmegaUSBDevice::cpuChecksum()
{
    return XmegaMailbox(m_handle.current()).readChecksum();
}

bool KestrelXmegaUSBDevice::setClock(std::uint32_t time)
{
    bool done = false;
    return XmegaMailbox(m_handle.current()).executeNoResult(kSetClock, time, done) && done;
}

bool KestrelXmegaUSBDevice::readSettingsBlock(std::unique_ptr<SettingsBlock>& block)
{
    XmegaMailbox mailbox(m_handle.current());
    std::vector<std::uint8_t> buffer;
    try {
        buffer.reserve(SettingsBlock::kMaxSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::uint32_t expected = SettingsBlock::kHeaderSize;
    int emptySteps = 0;
    while (buffer.size() < expected) {
        std::uint32_t result = 0;
        if (!mailbox.execute(kReadSettingsStep, buffer.empty() ? 1 : 0, result))
            return false;
        const std::uint32_t count = std::min(result >> 24, kStepBytes);
        if (count == 0) {
            // A unit that keeps answering nothing is given up on.
            if (++emptySteps >= kEmptyReadSteps)
                return false;
            continue;
        }
        emptySteps = 0;
        // Bytes past the block's length are not the block's.
        for (std::uint32_t i = 0; i < count && buffer.size() < expected; ++i)
            buffer.push_back(std::uint8_t(result >> (16 - 8 * i)));
        if (expected == SettingsBlock::kHeaderSize && buffer.size() >= SettingsBlock::kHeaderSize) {
            if (!SettingsBlock::isValidHeader(buffer.data(), buffer.size()))
                return false;
            expected = SettingsBlock::readU32(buffer.data());
            if (expected < SettingsBlock::kHeaderSize)
                return false;
        }
    }
    if (!SettingsBlock::checkItems(buffer.data(), buffer.size()))
        return false;
    auto loaded = std::make_unique<SettingsBlock>();
    if (!loaded->load(buffer.data(), buffer.size()))
        return false;
    block = std::move(loaded);
    return true;
}

bool KestrelXmegaUSBDevice::writeSettingsBlock(const SettingsBlock* block)
{
    if (!block)
        return false;
    const std::uint8_t* data = block->data();
    const std::uint32_t total = data ? block->totalLength() : 0;
    if (total == 0)
        return true;
    XmegaMailbox mailbox(m_handle.current());
    for (std::uint32_t sent = 0; sent < total;) {
        const std::uint32_t n = std::min(kStepBytes, total - sent);
        std::uint32_t word = (n + (sent == 0 ? kFirstWriteStep : 0)) << 24;
        for (std::uint32_t i = 0; i < n; ++i)
            word |= std::uint32_t(data[sent + i]) << (16 - 8 * i);
        // A step still pending after the polls has been sent all the same.
        bool done = false;
        if (!mailbox.executeNoResult(kWriteSettingsStep, word, done))
            return false;
        sent += n;
    }
    return true;
}

bool KestrelXmegaUSBDevice::program(ProgramType type, std::uint8_t target, std::uint32_t address,
                                    const std::uint8_t* data, std::uint32_t size,
                                    ProgressCallback progress, void* context)
{
    if (type != ProgramType::FlashImage)
        return false;
    std::shared_ptr<XmegaUSBDevice> device = m_handle.current();
    return device && programFlash(*device, target, address, data, size, progress, context);
}

bool KestrelXmegaUSBDevice::programFlash(XmegaUSBDevice& device, std::uint8_t target,
                                         std::uint32_t address, const std::uint8_t* data,
                                         std::uint32_t size, ProgressCallback progress,
                                         void* context, FlashProgress style)
{
    if (!data && size > 0)
        return false;
    std::uint32_t erasePage = 0, writeBlock = 0;
    bool programmed = device.waitIdleAndCommand() && device.selectTarget(target) &&
                      device.getFlashGeometry(erasePage, writeBlock);
    if (programmed) {
        const bool halves = style == FlashProgress::EraseThenDownload;
        std::function<void(std::uint32_t, std::uint32_t)> eraseProgress;
        if (halves && progress) {
            eraseProgress = [progress, context](std::uint32_t current, std::uint32_t span) {
                if (span)
                    progress(context, 0.5f * float(current) / float(span));
            };
        } else if (progress) {
            progress(context, -1.0f);
        }
        DownloadProgress downloadProgress(progress, context, halves ? 0.5f : 0.0f,
                                          halves ? 0.5f : 1.0f);
        const std::uint32_t pages =
            std::uint32_t((std::uint64_t(size) + erasePage - 1) / erasePage);
        programmed = device.erasePages(address / erasePage, pages) &&
                     device.waitForErase(eraseProgress) &&
                     device.bulkDownload(address / writeBlock, size, data, &downloadProgress) &&
                     device.waitWhileBusy();
    }
    // Update mode is left whatever happened before.
    device.endUpdate();
    return programmed;
}

} // namespace DiskRecorder
} // namespace CVN
