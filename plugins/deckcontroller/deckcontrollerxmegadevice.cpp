#include "plugins/deckcontroller/deckcontrollerxmegadevice.h"

#include "platform/bytewriter.h"
#include "plugins/deckcontroller/deckcontrollerreplies.h"
#include "plugins/deckcontroller/deckcontrollerxmegarequests.h"
#include "plugins/deckcontroller/deviceaccessservice.h"
#include "plugins/deckcontroller/firmwarecatalogue.h"
#include "plugins/deckcontroller/settingsservice.h"
#include "plugins/deckcontroller/streaming2xmegausbdevice.h"
#include "usb/rpc/streamingrpcdevice.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace {

void tell(const IDeckControllerDevice::Progress& progress, float fraction)
{
    if (progress)
        progress(fraction);
}

uint64_t roundUp(uint64_t value, uint64_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// The bulk progress of a page write, mapped into the second half of a program run.
class DeviceCallback : public XmegaUSBDevice::ProgressCallback
{
public:
    explicit DeviceCallback(const IDeckControllerDevice::Progress& progress)
        : m_progress(progress)
    {
    }
    void progress(uint32_t index, uint32_t total) override
    {
        tell(m_progress, total ? 0.5f + 0.5f * float(index) / float(total) : 0.5f);
    }

private:
    const IDeckControllerDevice::Progress& m_progress;
};

} // namespace

DeckControllerXmegaDevice::DeckControllerXmegaDevice(const Handle& handle)
    : m_handle(handle)
    , m_clock(CVN::USB::WaitClock::system())
{
    static const std::vector<uint16_t> supported = {kProductId};
    std::shared_ptr<XmegaUSBDevice> device = usb();
    uint16_t productId = 0;
    if (!device || !device->getProductId(productId) ||
        std::find(supported.begin(), supported.end(), productId) == supported.end())
        throw std::runtime_error("Unsupported product\n");
    m_productId = productId;
}

DeckControllerXmegaDevice::~DeckControllerXmegaDevice() = default;

void DeckControllerXmegaDevice::setClock(std::shared_ptr<CVN::USB::WaitClock> clock)
{
    m_clock = clock ? std::move(clock) : CVN::USB::WaitClock::system();
}

std::shared_ptr<XmegaUSBDevice> DeckControllerXmegaDevice::usb()
{
    return m_handle.current();
}

std::shared_ptr<VornOSRPC::RpcDevice> DeckControllerXmegaDevice::rpcDevice()
{
    auto stream = std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(usb());
    if (!stream)
        return nullptr;
    auto rpc = std::make_shared<VornOSRPC::StreamingRpcDevice>(
        std::shared_ptr<VornOSRPC::StreamingInterface>(stream));
    rpc->setClock(m_clock);
    return rpc;
}

template<class F, class R>
R DeckControllerXmegaDevice::reported(const char* operation, R failed, F&& body)
{
    try {
        return body();
    } catch (const std::exception& e) {
        std::cerr << "DeckControllerXmegaDevice::" << operation << ": " << e.what() << std::endl;
        return failed;
    }
}

bool DeckControllerXmegaDevice::getProductId(uint16_t& out)
{
    out = m_productId;
    return true;
}

bool DeckControllerXmegaDevice::getReleaseId(uint16_t& out)
{
    return reported("getReleaseId", false, [&] {
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        const std::string text = access.releaseText();
        if (!DeckControllerReplies::parseReleaseId(text, out)) {
            std::cerr << "GetProductVersion failed to parse: " << text << std::endl;
            return false;
        }
        return true;
    });
}

bool DeckControllerXmegaDevice::getUniqueId(std::string& out)
{
    // The id the unit was registered under: it needs no request, so it still matches while
    // the unit is going away, and a unit without an id matches nothing.
    const DeviceId& id = m_handle.uniqueId();
    if (!id.isValid())
        return false;
    out = id.toHex();
    return true;
}

bool DeckControllerXmegaDevice::isRecovery()
{
    poll();
    return m_recovery.load();
}

bool DeckControllerXmegaDevice::poll()
{
    if (!delegate())
        return false;
    return reported("poll", false, [&] {
        std::shared_ptr<XmegaUSBDevice> device = usb();
        uint16_t first = 0, second = 0;
        if (device && DeckControllerXmegaRequests(*device).getRecoveryInfo(first, second)) {
            m_recovery = true;
            return true;
        }
        try {
            DeviceAccessService access;
            access.open(rpcDevice(), kServiceOpenTimeoutMs);
            m_recovery = false;
        } catch (const std::exception&) {
            m_recovery = true;
        }
        return true;
    });
}

uint8_t DeckControllerXmegaDevice::getApplicationState()
{
    try {
        auto stream = std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(usb());
        if (!stream || !stream->waitReady(kReadyTimeoutMs))
            return 0;
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        return access.applicationState();
    } catch (const std::exception&) {
        return 0;
    }
}

bool DeckControllerXmegaDevice::isFirmwareCurrent()
{
    return reported("isFirmwareCurrent", false, [&] {
        if (isRecovery())
            return false;
        if (m_productId != kProductId) {
            const uint32_t expected = FirmwareCatalogue::expectedXmegaChecksum(m_productId);
            std::shared_ptr<XmegaUSBDevice> device = usb();
            uint32_t first = 0, second = 0;
            if (!device || !device->getChecksums(first, second) || first != expected ||
                second != expected)
                return false;
        }
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        return access.fpgaVersion() == FirmwareCatalogue::expectedFpgaVersion(m_productId) &&
               access.cpuChecksum() == FirmwareCatalogue::expectedCpuChecksum(m_productId);
    });
}

bool DeckControllerXmegaDevice::isFirmwareCompatible()
{
    return true;
}

bool DeckControllerXmegaDevice::getFirmwareString(std::string& out)
{
    return reported("getFirmwareString", false, [&] {
        // A unit that does not tell its XMEGA checksums shows zeros there.
        uint32_t first = 0, xmega = 0;
        if (std::shared_ptr<XmegaUSBDevice> device = usb())
            if (!device->getChecksums(first, xmega))
                xmega = 0;
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        const uint32_t cpu = access.cpuChecksum();
        const uint32_t fpga = access.fpgaVersion();
        out = FirmwareCatalogue::firmwareText(xmega, cpu, fpga);
        return true;
    });
}

bool DeckControllerXmegaDevice::getReleaseString(std::string& out)
{
    return reported("getReleaseString", false, [&] {
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        out = access.releaseText();
        return true;
    });
}

bool DeckControllerXmegaDevice::getUnitName(std::string& out)
{
    return reported("getUnitName", false, [&] {
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        out = access.unitName();
        return true;
    });
}

bool DeckControllerXmegaDevice::setUnitName(const std::string& name)
{
    return reported("setUnitName", false, [&] {
        DeviceAccessService access;
        access.open(rpcDevice(), kServiceOpenTimeoutMs);
        access.setUnitName(name);
        return true;
    });
}

bool DeckControllerXmegaDevice::flushSettings()
{
    return reported("flushSettings", false, [&] {
        SettingsService settings;
        settings.open(rpcDevice(), kServiceOpenTimeoutMs);
        settings.save();
        return true;
    });
}

// Update mode and reboots.

bool DeckControllerXmegaDevice::beginUpdate()
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    return device && device->waitIdleAndCommand();
}

bool DeckControllerXmegaDevice::endUpdate()
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    return device && device->endUpdate();
}

bool DeckControllerXmegaDevice::reboot()
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    return device && device->rebootToApplication();
}

bool DeckControllerXmegaDevice::rebootAndWait(bool toBootloader, int timeoutMs)
{
    const auto& registry = m_handle.registry();
    const DeviceId& id = m_handle.uniqueId();
    if (!registry || !id.isValid() || !registry->contains(id))
        return false;
    bool sent = false;
    // A reboot already under way is waited for by whoever started it.
    if (!registry->isRebooting(id)) {
        if (!registry->announceReboot(id, timeoutMs))
            return false;
        std::shared_ptr<XmegaUSBDevice> device = usb();
        sent =
            device && (toBootloader ? device->rebootToBootloader() : device->rebootToApplication());
        if (!sent)
            registry->cancelReboot(id);
    }
    // The registry's reboot timer ends the wait when the unit does not come back; the
    // deadline here only guards against a timer that never runs.
    if (sent)
        registry->waitForReturn(id, uint32_t(timeoutMs) + kRebootSlackMs);
    std::shared_ptr<XmegaUSBDevice> device = registry->device(id);
    bool bootloader = false;
    return device && device->isBootloaderMode(bootloader) && bootloader == toBootloader;
}

bool DeckControllerXmegaDevice::writeXmegaFirmware(const uint8_t* data, uint32_t size)
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    bool bootloader = false;
    if (!device || !device->isBootloaderMode(bootloader))
        return false;
    if (!bootloader && !rebootAndWait(true, kRebootTimeoutMs))
        return false;
    device = usb();
    const bool downloaded = device && device->downloadFirmware(size, data);
    device = usb();
    if (!device || !device->isBootloaderMode(bootloader))
        return false;
    if (bootloader && !rebootAndWait(false, kRebootTimeoutMs))
        return false;
    return downloaded;
}

// Polls.

bool DeckControllerXmegaDevice::pollUntil(const std::function<Poll()>& check)
{
    const auto started = m_clock->now();
    for (;;) {
        const Poll state = check();
        if (state != Poll::Again)
            return state == Poll::Done;
        if (m_clock->elapsedMs(started) >= kPollLimitMs)
            return false;
        m_clock->sleep(kPollMs);
    }
}

bool DeckControllerXmegaDevice::waitWhile(bool (*flag)(XmegaUSBDevice& device, bool& set))
{
    return pollUntil([&] {
        std::shared_ptr<XmegaUSBDevice> device = usb();
        bool set = true;
        if (!device || !flag(*device, set))
            return Poll::Failed;
        return set ? Poll::Again : Poll::Done;
    });
}

bool DeckControllerXmegaDevice::waitIdle()
{
    return waitWhile([](XmegaUSBDevice& device, bool& busy) { return device.isBusy(busy); });
}

bool DeckControllerXmegaDevice::waitReadClear()
{
    return waitWhile([](XmegaUSBDevice& device, bool& reading) {
        return DeckControllerXmegaRequests(device).getReadStatus(reading);
    });
}

bool DeckControllerXmegaDevice::waitErase(
    const std::function<void(uint32_t done, uint32_t total)>& progress)
{
    return pollUntil([&] {
        std::shared_ptr<XmegaUSBDevice> device = usb();
        uint16_t pending = 0;
        bool flag = false;
        uint32_t total = 0, done = 0;
        if (!device || !device->getEraseStatus(pending, flag, total, done))
            return Poll::Failed;
        if (pending > 0) {
            if (progress)
                progress(done, total);
            return Poll::Again;
        }
        return done == total ? Poll::Done : Poll::Failed;
    });
}

// Flash.

bool DeckControllerXmegaDevice::program(uint8_t target, uint32_t address, const uint8_t* data,
                                        uint32_t size, Progress progress)
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    uint32_t eraseUnit = 0, page = 0;
    // The layer refuses a geometry with a zero size: no unit or page count follows from it.
    if (!device || !data || !device->selectTarget(target) ||
        !device->getFlashGeometry(eraseUnit, page))
        return false;
    const uint64_t units = (uint64_t(size) + eraseUnit - 1) / eraseUnit;
    if (units > 0xFFFFFFFFu || !device->erasePages(address / eraseUnit, uint32_t(units)))
        return false;
    if (!waitErase([&](uint32_t done, uint32_t total) {
            tell(progress, total ? 0.5f * float(done) / float(total) : 0.0f);
        }))
        return false;
    DeviceCallback callback(progress);
    device = usb();
    if (!device || !device->bulkDownload(address / page, size, data, &callback))
        return false;
    return waitIdle();
}

bool DeckControllerXmegaDevice::readRegion(uint32_t address, uint32_t size,
                                           std::vector<uint8_t>& out)
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    if (!device || m_pageSize == 0 || device->bulkInPacketSize() == 0)
        return false;
    const uint64_t length = roundUp(roundUp(size, m_pageSize), device->bulkInPacketSize());
    if (length > 0xFFFFFFFFu)
        return false;
    out.assign(size_t(length), 0);
    return DeckControllerXmegaRequests(*device).readMemoryBulk(address, uint32_t(length),
                                                               out.data()) &&
           waitReadClear();
}

bool DeckControllerXmegaDevice::writePages(uint32_t address, const uint8_t* data, uint32_t size)
{
    std::shared_ptr<XmegaUSBDevice> device = usb();
    return device && device->bulkDownload(address / m_pageSize, size, data) && waitIdle();
}

bool DeckControllerXmegaDevice::bankHasBootHeader(uint32_t address)
{
    std::vector<uint8_t> header;
    return readRegion(address, DeckControllerReplies::kBootHeaderSize, header) &&
           DeckControllerReplies::isValidBootHeader(header.data(), header.size());
}

bool DeckControllerXmegaDevice::bankEquals(uint32_t address, const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> bank;
    return readRegion(address, m_bankSize, bank) &&
           std::equal(image.begin(), image.end(), bank.begin());
}

bool DeckControllerXmegaDevice::writeBank(uint32_t address, const std::vector<uint8_t>& image,
                                          const Progress& progress, float base)
{
    // An erase must not reach into the other bank.
    if (address % m_pageSize != 0 || address % m_eraseUnitSize != 0 ||
        m_bankSize % m_eraseUnitSize != 0 || m_bankSize % m_pageSize != 0)
        return false;
    // The pages that hold the identification word.
    const uint32_t idPage = DeckControllerReplies::kBootHeaderIdOffset / m_pageSize * m_pageSize;
    const uint32_t idPagesLength =
        (DeckControllerReplies::kBootHeaderIdOffset + 3) / m_pageSize * m_pageSize - idPage +
        m_pageSize;

    if (address == m_bankA) {
        // Bank A is what the unit boots first: from here on it must not look bootable.
        std::vector<uint8_t> pages;
        if (!readRegion(address + idPage, idPagesLength, pages))
            return false;
        Platform::ByteWriter(pages.data(), pages.size())
            .u32(DeckControllerReplies::kBootHeaderIdOffset - idPage, 0);
        if (!writePages(address + idPage, pages.data(), idPagesLength))
            return false;
    }

    std::shared_ptr<XmegaUSBDevice> device = usb();
    if (!device || !device->erasePages(address / m_eraseUnitSize, m_bankSize / m_eraseUnitSize) ||
        !waitErase({}))
        return false;
    tell(progress, base);

    // Everything but the identification word, which goes last so that a bank interrupted
    // before it is never booted.
    std::vector<uint8_t> body = image;
    Platform::ByteWriter(body.data(), body.size())
        .u32(DeckControllerReplies::kBootHeaderIdOffset, 0xFFFFFFFF);
    if (!writePages(address, body.data(), m_bankSize))
        return false;
    return writePages(address + idPage, image.data() + idPage, idPagesLength);
}

bool DeckControllerXmegaDevice::writeImage(const uint8_t* data, uint32_t size, Progress progress)
{
    if (size > m_bankSize || !data)
        return false;
    std::shared_ptr<XmegaUSBDevice> device = usb();
    uint32_t eraseUnit = 0, page = 0;
    if (!device || !device->selectTarget(m_target) || !device->getFlashGeometry(eraseUnit, page))
        return false;
    m_eraseUnitSize = eraseUnit;
    m_pageSize = page;
    // A shorter image fills its bank with erased bytes, and is compared so.
    std::vector<uint8_t> image(m_bankSize, 0xFF);
    std::copy(data, data + size, image.begin());

    // The bank that does not hold the running image goes first.
    const uint32_t active = bankHasBootHeader(m_bankA) ? 1 : 0;
    tell(progress, 0.0f);
    const uint32_t order[2] = {active, 1 - active};
    for (int i = 0; i < 2; ++i) {
        const uint32_t address = order[i] == 1 ? m_bankB : m_bankA;
        if (!bankEquals(address, image) &&
            (!writeBank(address, image, progress, i == 0 ? 0.25f : 0.75f) ||
             !bankEquals(address, image)))
            return false;
        tell(progress, i == 0 ? 0.5f : 1.0f);
    }
    return true;
}
