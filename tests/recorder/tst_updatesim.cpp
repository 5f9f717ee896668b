#include "packagefolder.h"
#include "simunits.h"

#include "plugins/recorder/deviceupdater.h"
#include "plugins/recorder/diskrecorderinstance.h"
#include "plugins/recorder/kestrelfx2usbdevice.h"
#include "plugins/recorder/visibleusbkestrelfirmwareupdater.h"
#include "usb/firmware/firmwarepackage.h"

#include <QtTest>

#include <algorithm>

using namespace CVN::DiskRecorder;

namespace {

constexpr int kUpdateTimeoutMs = 60000;

// The packages the plug-in ships, as the build wrote them.
QString shippedFolder()
{
    return QDir(qEnvironmentVariable("PELLWORTH_BIN_DIR"))
        .filePath(QStringLiteral("Tendwell/PlugIns/Tamsett/Resources"));
}

// An update run through the card's adaptor, its signals as the GUI thread gets them.
struct Update
{
    explicit Update(IKestrel* device)
        : updater(VisibleUSBKestrelFirmwareUpdater::create(device))
        , percent(updater.data(), &DeviceFirmwareUpdater::firmwareUpdateProgress)
        , status(updater.data(), &DeviceFirmwareUpdater::firmwareUpdated)
    {
        // No pauses on the host's side: FX2 register writes and the wait for the unit.
        if (auto* fx2 = dynamic_cast<KestrelFX2USBDevice*>(device))
            fx2->instance()->setClock(clock);
        updater->updater().setWaitClock(clock);
    }

    // Runs the update to its end; the status it reported, or -1 without one.
    int run()
    {
        updater->start();
        if (!QTest::qWaitFor([this] { return status.count() > 0; }, kUpdateTimeoutMs))
            return -1;
        // Whatever else the thread sends has arrived once it has ended.
        updater->updater().waitForEnd();
        QCoreApplication::processEvents();
        return status.count() == 1 ? status.at(0).at(0).toInt() : -2;
    }
    QList<int> percents() const
    {
        QList<int> out;
        for (const auto& args : percent)
            out << args.at(0).toInt();
        return out;
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    QSharedPointer<VisibleUSBKestrelFirmwareUpdater> updater;
    QSignalSpy percent;
    QSignalSpy status;
};

// The flash of an FX2 recorder that a package's target byte names.
uint8_t fx2Mode(uint16_t productId, uint8_t target)
{
    if (target == 1)
        return productId == 0xC367 || productId == 0xC3A3 ? 2 : 1;
    return uint8_t(target + 1);
}

std::vector<uint8_t> payload(FirmwarePackageEntry& entry)
{
    return std::vector<uint8_t>(entry.data(), entry.data() + entry.size());
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, uint32_t at, uint32_t size)
{
    if (size_t(at) + size > bytes.size())
        return {};
    return std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + size);
}

} // namespace

class UpdateSimTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void fx2TakesOneMebibyte();
    void unpluggingMidwayFails_data();
    void unpluggingMidwayFails();
    void shippedPackageReachesEachModel_data();
    void shippedPackageReachesEachModel();

private:
    PackageFolder m_folder;
};

void UpdateSimTest::initTestCase()
{
    for (const char* name : {"data-c34c.bin", "data-c34d.bin", "data-c35a.bin", "data-c3a3.bin",
                             "data-c3a6.bin", "data-c3e4.bin"})
        QVERIFY2(m_folder.copyFrom(shippedFolder(), name), name);
}

void UpdateSimTest::cleanup()
{
    Sim::UsbBus::instance().reset();
    QVERIFY(m_folder.copyFrom(shippedFolder(), "data-c34d.bin"));
}

void UpdateSimTest::fx2TakesOneMebibyte()
{
    const std::vector<uint8_t> image = PackageFolder::pattern(1u << 20, 7);
    QVERIFY(m_folder.write("data-c34d.bin", 0xC34D, {{image, 0, 0, 0x100000}}));
    auto unit = makeFx2Unit(0xC34D);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    Update update(unit->device());

    QCOMPARE(update.run(), int(DeviceFirmwareUpdater::Succeeded));
    QCOMPARE(unit->model->flash(1)->contents(0x100000, uint32_t(image.size())), image);
    const QList<int> percents = update.percents();
    // Busy while the flash is erased, then rising to the whole, busy again for the restart.
    QList<int> figures;
    for (int p : percents) {
        if (p >= 0)
            figures << p;
    }
    QVERIFY2(figures.size() >= 8, qPrintable(QString::number(figures.size())));
    QVERIFY(std::is_sorted(figures.begin(), figures.end()));
    QVERIFY(figures.front() < 50);
    QCOMPARE(figures.back(), 100);
    QCOMPARE(percents.back(), -1);
}

void UpdateSimTest::unpluggingMidwayFails_data()
{
    QTest::addColumn<QString>("generation");
    QTest::newRow("fx2, 1 MiB") << "fx2";
    QTest::newRow("xmega mailbox") << "mailbox";
    // Its update restarts it: it leaves for good on the way into its boot loader.
    QTest::newRow("streaming, gone in its restart") << "streaming";
}

// The update that goes in whole fails when the unit leaves halfway through it.
void UpdateSimTest::unpluggingMidwayFails()
{
    QFETCH(QString, generation);
    std::unique_ptr<SimUnit> unit;
    Sim::StreamingRecorder* streaming = nullptr;
    if (generation == "fx2") {
        QVERIFY(m_folder.write("data-c34d.bin", 0xC34D,
                               {{PackageFolder::pattern(1u << 20, 9), 0, 0, 0x100000}}));
        unit = makeFx2Unit(0xC34D);
    } else if (generation == "mailbox") {
        unit = makeMailboxUnit();
    } else {
        auto streamingUnit = makeStreamingUnit();
        streaming = streamingUnit->model.get();
        // Older XMEGA firmware: the update goes through the boot loader.
        streaming->setChecksums(1, 2);
        unit = std::move(streamingUnit);
    }
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    if (streaming) {
        Sim::XmegaFaults faults;
        faults.rebootNeverReturns = true;
        streaming->setFaults(faults);
    } else {
        // Units that do not restart keep their bus id: the requests of a whole update are
        // counted, and the unit leaves at half of them the next time.
        bus.clearRequestLog(unit->busId);
        {
            Update whole(unit->device());
            QCOMPARE(whole.run(), int(DeviceFirmwareUpdater::Succeeded));
        }
        Sim::Faults faults;
        faults.unplugAtRequest = int(bus.requestLog(unit->busId).size() / 2);
        bus.setFaults(unit->busId, faults);
    }

    Update update(unit->device());
    QCOMPARE(update.run(), int(DeviceFirmwareUpdater::Failed));
    const QList<int> percents = update.percents();
    const int highest =
        percents.isEmpty() ? -1 : *std::max_element(percents.begin(), percents.end());
    QVERIFY2(highest < 100, qPrintable(QString::number(highest)));
    if (generation == "fx2") // one image: halfway through the requests is halfway through it
        QVERIFY2(highest >= 25, qPrintable(QString::number(highest)));
    // The removal reached the family (a restarting unit's once its restart time is out);
    // nothing more comes from the updater.
    QTRY_COMPARE_WITH_TIMEOUT(unit->removals(), 1, 20000);
    QTest::qWait(50);
    QCOMPARE(update.status.count(), 1);
}

void UpdateSimTest::shippedPackageReachesEachModel_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<quint32>("codec");
    QTest::newRow("c34c") << 0xC34C << 0u;
    QTest::newRow("c34d") << 0xC34D << 0u;
    QTest::newRow("c35a") << 0xC35A << 0u;
    QTest::newRow("c35a ProRes HQ") << 0xC35A << quint32(DeviceUpdater::kProResHQ);
    QTest::newRow("c367") << 0xC367 << 0u;
    QTest::newRow("c3a3") << 0xC3A3 << 0u;
    QTest::newRow("c3a6 xmega mailbox") << 0xC3A6 << 0u;
    QTest::newRow("c3e4 streaming") << 0xC3E4 << 0u;
    QTest::newRow("be0f streaming") << 0xBE0F << 0u;
}

// Every model takes the package the plug-in carries for it, each image where it belongs.
void UpdateSimTest::shippedPackageReachesEachModel()
{
    QFETCH(int, productId);
    QFETCH(quint32, codec);
    const uint16_t pid = uint16_t(productId);
    FirmwarePackageEntryList entries;
    const QString shipped = QDir(shippedFolder()).filePath(DeviceUpdater::packageFileName(pid));
    QVERIFY(DeviceUpdater::readPackage(shipped.toStdString(), pid, entries));
    if (pid == DeviceUpdater::kTwoFpgaImagesProduct)
        entries.erase(entries.begin() + (codec == DeviceUpdater::kProResHQ ? 0 : 1));

    std::unique_ptr<SimUnit> unit;
    Sim::XmegaUnit* xmega = nullptr;
    std::shared_ptr<Sim::Fx2Recorder> fx2;
    Sim::StreamingRecorder::Network network;
    if (pid == 0xC3A6) {
        auto mailbox = makeMailboxUnit();
        xmega = mailbox->model.get();
        unit = std::move(mailbox);
    } else if (pid == 0xC3E4 || pid == 0xBE0F) {
        auto options = Sim::StreamingRecorder::defaultOptions();
        options.productId = pid;
        auto streaming = makeStreamingUnit(options);
        // Older XMEGA firmware, so that its image goes in too; network values of its own.
        streaming->model->setChecksums(1, 2);
        network.value1 = 0x0A000002;
        streaming->model->setNetwork(network);
        xmega = streaming->model.get();
        unit = std::move(streaming);
    } else {
        auto recorder = makeFx2Unit(pid);
        fx2 = recorder->model;
        unit = std::move(recorder);
    }
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    Update update(unit->device());
    if (codec)
        QVERIFY(update.updater->setCodec(codec));

    QCOMPARE(update.run(), int(DeviceFirmwareUpdater::Succeeded));
    for (const auto& entry : entries) {
        const std::vector<uint8_t> image = payload(*entry);
        const uint32_t size = uint32_t(image.size());
        if (entry->target() == uint8_t(ProgramType::XmegaImage)) {
            QCOMPARE(xmega->bootloaderImage(), image);
            QVERIFY(xmega->bootloaderDownloadDone());
        } else if (fx2) {
            QCOMPARE(
                fx2->flash(fx2Mode(pid, entry->region()))->contents(entry->loadAddress(), size),
                image);
        } else {
            QCOMPARE(slice(xmega->target(entry->region()).bytes, entry->loadAddress(), size),
                     image);
        }
    }
    if (pid == 0xC3E4 || pid == 0xBE0F) {
        // Its network values survive the new firmware's factory ones.
        auto* streaming = static_cast<Sim::StreamingRecorder*>(xmega);
        QVERIFY(streaming->network() == network);
        QVERIFY(!streaming->isBootloader());
    }
}

QTEST_MAIN(UpdateSimTest)
#include "tst_updatesim.moc"
