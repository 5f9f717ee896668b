#include "plugins/recorder/deviceupdater.h"

#include "plugins/recorder/connectionprobe.h"
#include "plugins/recorder/ikestrel.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "usb/driver/waitclock.h"
#include "usb/firmware/firmwarepackage.h"

#include <QLoggingCategory>

#include <exception>
#include <map>
#include <mutex>

using CVN::DiskRecorder::IKestrel;
using CVN::DiskRecorder::ProgramType;
using CVN::USB::WaitClock;

// Why an update failed, for support; off by default (QT_LOGGING_RULES turns it on).
Q_LOGGING_CATEGORY(lcRecorderUpdate, "pellworth.recorder.update", QtWarningMsg)

namespace {

// Ends a step of the update with the reason it failed.
bool failed(const QString& reason)
{
    qCDebug(lcRecorderUpdate).noquote() << "Recorder update failed:" << reason;
    return false;
}

QString hex(std::uint32_t value)
{
    return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0'));
}

struct PackageFile
{
    std::uint16_t productId;
    const char* fileName;
};

constexpr PackageFile kPackageFiles[] = {
    {0xC34C, "data-c34c.bin"}, {0xC34D, "data-c34d.bin"}, {0xC35A, "data-c35a.bin"},
    {0xC367, "data-c3a3.bin"}, {0xC3A3, "data-c3a3.bin"}, {0xC3A6, "data-c3a6.bin"},
    {0xC3E4, "data-c3e4.bin"}, {0xBE0F, "data-c3e4.bin"},
};

} // namespace

DeviceUpdater::DeviceUpdater()
    : m_clock(WaitClock::system())
{
}

DeviceUpdater::~DeviceUpdater()
{
    waitForEnd();
    if (IKestrel* device = m_device.exchange(nullptr))
        device->release();
}

void DeviceUpdater::setDevice(IKestrel* device)
{
    waitForEnd();
    if (device)
        device->addRef();
    if (IKestrel* previous = m_device.exchange(device))
        previous->release();
    m_codecMode = 0;
}

bool DeviceUpdater::setCodecMode(std::uint32_t fourCC)
{
    m_codecMode = fourCC;
    IKestrel* device = m_device.load();
    return device && device->setCodecMode(fourCC);
}

void DeviceUpdater::setWaitClock(std::shared_ptr<WaitClock> clock)
{
    waitForEnd();
    m_clock = clock ? std::move(clock) : WaitClock::system();
}

const char* DeviceUpdater::packageFileName(std::uint16_t productId)
{
    for (const PackageFile& file : kPackageFiles) {
        if (file.productId == productId)
            return file.fileName;
    }
    return nullptr;
}

std::string DeviceUpdater::packagePath(std::uint16_t productId)
{
    const char* fileName = packageFileName(productId);
    if (!fileName)
        return {};
    // One locator per file for the whole process; updates of several units may ask at once.
    static std::mutex mutex;
    static std::map<std::string, FirmwareFileLocator> locators;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = locators.find(fileName);
    if (it == locators.end())
        it = locators.emplace(fileName, FirmwareFileLocator(fileName)).first;
    return it->second.firmwareFilePath();
}

bool DeviceUpdater::readPackage(const std::string& path, std::uint16_t productId,
                                FirmwarePackageEntryList& entries)
{
    if (path.empty())
        return false;
    FirmwarePackage package;
    package.setPath(path);
    const std::int32_t status =
        package.readEntries(kResourceType, kVendorResourceId | productId, entries);
    if (status != FirmwarePackage::Success)
        qCDebug(lcRecorderUpdate).noquote()
            << QString::fromStdString(path) << "does not read: status" << status;
    return status == FirmwarePackage::Success && !entries.empty();
}

void DeviceUpdater::run()
{
    beginRun();
    m_progressLow = 0.0f;
    m_progressHigh = 1.0f;
    FirmwarePackageEntryList entries;
    bool succeeded = false;
    try {
        succeeded = update(entries);
    } catch (const std::exception& error) {
        // Out of memory for a payload, or a back-end that broke its promise not to throw.
        succeeded = failed(QString::fromLocal8Bit(error.what()));
    }
    FirmwarePackage::clearEntries(entries);
    finishRun();
    emit complete(succeeded);
    endRun();
}

void DeviceUpdater::reportProgram(void* context, float fraction)
{
    auto* self = static_cast<DeviceUpdater*>(context);
    emit self->progressed(fraction < 0
                              ? -1.0f
                              : self->m_progressLow +
                                    (self->m_progressHigh - self->m_progressLow) * fraction);
}

bool DeviceUpdater::update(FirmwarePackageEntryList& entries)
{
    IKestrel* device = m_device.load();
    std::uint16_t productId = 0;
    if (!device)
        return failed(QStringLiteral("no unit"));
    if (!device->getProductId(productId))
        return failed(QStringLiteral("the unit's product id does not read"));
    if (!packageFileName(productId))
        return failed(QStringLiteral("no package for product %1").arg(hex(productId)));
    const std::string path = packagePath(productId);
    if (!readPackage(path, productId, entries))
        return failed(QStringLiteral("%1 holds no readable entry for product %2")
                          .arg(QString::fromStdString(path), hex(productId)));

    if (productId == kTwoFpgaImagesProduct) {
        // Without both FPGA images the choice below would drop the only image, or program
        // the wrong one.
        if (entries.size() < 2)
            return failed(QStringLiteral("the package of product %1 lacks an FPGA image")
                              .arg(hex(productId)));
        entries.erase(entries.begin() + (m_codecMode.load() == kProResHQ ? 0 : 1));
    }

    // Every entry is checked before the unit is touched: an update that cannot finish must
    // not start. Sizes come from the payloads, which inflate here.
    std::uint64_t total = 0;
    int index = 0;
    for (const auto& entry : entries) {
        // The package reader names the descriptor's byte 9 target(); to the recorder it is the
        // program type. Byte 8, region(), is the memory the image goes to.
        const std::uint8_t type = entry->target();
        if (type != std::uint8_t(ProgramType::FlashImage) &&
            type != std::uint8_t(ProgramType::XmegaImage))
            return failed(QStringLiteral("entry %1 has program type %2").arg(index).arg(type));
        if (!entry->data() || entry->size() == 0)
            return failed(QStringLiteral("entry %1 has no data").arg(index));
        total += entry->size();
        ++index;
    }
    if (total == 0)
        return failed(QStringLiteral("the package has nothing to program"));

    if (!device->prepareForUpdate())
        return failed(QStringLiteral("the unit could not be prepared"));

    std::uint64_t done = 0;
    for (const auto& entry : entries) {
        const auto type = ProgramType(entry->target());
        const std::uint8_t target = entry->region();
        const std::uint32_t address = entry->loadAddress();
        if (type == ProgramType::XmegaImage && !device->shouldProgramType3())
            continue;
        const std::uint32_t size = entry->size();
        m_progressLow = float(double(done) / double(total));
        m_progressHigh = float(double(done + size) / double(total));
        // The entry keeps its payload until the list is cleared.
        if (!device->program(type, target, address, entry->data(), size, &reportProgram, this))
            return failed(QStringLiteral("programming %1 bytes of type %2 into target %3 at %4 "
                                         "failed")
                              .arg(size)
                              .arg(int(type))
                              .arg(target)
                              .arg(hex(address)));
        done += size;
    }

    if (!device->rebootAfterUpdate())
        return failed(QStringLiteral("the unit did not restart"));
    emit progressed(-1.0f);
    if (!waitForUnit(*device))
        return failed(QStringLiteral("the unit did not answer after its restart"));
    return true;
}

bool DeviceUpdater::waitForUnit(IKestrel& device)
{
    // kReturnLooks looks with the pauses between them.
    const auto result =
        m_clock->pollUntil((kReturnLooks - 1) * kReturnIntervalMs, kReturnIntervalMs, [&device] {
            return CVN::DiskRecorder::ConnectionProbe::isConnected(device) ? WaitClock::Poll::Ready
                                                                           : WaitClock::Poll::Again;
        });
    return result == WaitClock::PollResult::Ready;
}
