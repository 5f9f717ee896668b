#include "fakekestrel.h"
#include "packagefolder.h"
#include "tests/usb/simdevicefixture.h"

#include "plugins/recorder/deviceupdater.h"
#include "plugins/recorder/visibleusbkestrelfirmwareupdater.h"

#include <QtTest>

#include <memory>

using CVN::DiskRecorder::ProgramType;
using Image = PackageFolder::Image;
using Bytes = std::vector<uint8_t>;

Q_DECLARE_METATYPE(std::vector<Image>)

namespace {

constexpr uint16_t kModel0 = 0xC34C;
constexpr uint16_t kModel1 = 0xC35A;

// One run of an updater over a scripted unit, its signals as the thread sent them.
struct Run
{
    explicit Run(uint16_t productId)
        : device(new FakeKestrel(productId))
    {
        updater.setDevice(device);
        updater.setWaitClock(clock);
    }
    ~Run() { device->release(); }

    bool go()
    {
        progress.clear();
        completions.clear();
        auto onProgress = QObject::connect(
            &updater, &DeviceUpdater::progressed, &updater,
            [this](float f) { progress.push_back(f); }, Qt::DirectConnection);
        auto onComplete = QObject::connect(
            &updater, &DeviceUpdater::complete, &updater,
            [this](bool ok) { completions.push_back(ok); }, Qt::DirectConnection);
        updater.startUpdate();
        updater.waitForEnd();
        QObject::disconnect(onProgress);
        QObject::disconnect(onComplete);
        return completions.size() == 1 && completions[0];
    }
    std::vector<Bytes> programmed() const
    {
        std::vector<Bytes> out;
        for (const auto& call : device->programCalls)
            out.push_back(call.data);
        return out;
    }

    FakeKestrel* device;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    DeviceUpdater updater;
    std::vector<float> progress;
    std::vector<bool> completions;
};

} // namespace

class DeviceUpdaterTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void packageFilePerProduct_data();
    void packageFilePerProduct();
    void badPackageFailsBeforeTheUnitIsTouched_data();
    void badPackageFailsBeforeTheUnitIsTouched();
    void fpgaImageFollowsTheCodec_data();
    void fpgaImageFollowsTheCodec();
    void entriesGoWhereTheirDescriptorsSay();
    void progressCoversTheWholeJob();
    void skippedXmegaImageLeavesAGap();
    void failingStepEndsTheUpdate_data();
    void failingStepEndsTheUpdate();
    void waitsFortyLooksForTheUnit_data();
    void waitsFortyLooksForTheUnit();
    void holdsOneReferenceOnTheUnit();
    void adaptorReportsPercentAndStatus();

private:
    PackageFolder m_folder;
};

void DeviceUpdaterTest::cleanup()
{
    for (const char* name : {"data-c34c.bin", "data-c35a.bin", "data-c3e4.bin"})
        m_folder.remove(name);
}

void DeviceUpdaterTest::packageFilePerProduct_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("c34c") << 0xC34C << "data-c34c.bin";
    QTest::newRow("c34d") << 0xC34D << "data-c34d.bin";
    QTest::newRow("c35a") << 0xC35A << "data-c35a.bin";
    QTest::newRow("c367 shares c3a3") << 0xC367 << "data-c3a3.bin";
    QTest::newRow("c3a3") << 0xC3A3 << "data-c3a3.bin";
    QTest::newRow("c3a6") << 0xC3A6 << "data-c3a6.bin";
    QTest::newRow("c3e4") << 0xC3E4 << "data-c3e4.bin";
    QTest::newRow("be0f shares c3e4") << 0xBE0F << "data-c3e4.bin";
    QTest::newRow("unknown") << 0xC3A7 << "";
}

void DeviceUpdaterTest::packageFilePerProduct()
{
    QFETCH(int, productId);
    QFETCH(QString, fileName);
    const char* name = DeviceUpdater::packageFileName(uint16_t(productId));
    QCOMPARE(QString::fromLatin1(name ? name : ""), fileName);
    QCOMPARE(QString::fromStdString(DeviceUpdater::packagePath(uint16_t(productId))),
             fileName.isEmpty()
                 ? QString()
                 : QString::fromStdString(m_folder.filePath(fileName.toStdString())));
}

void DeviceUpdaterTest::badPackageFailsBeforeTheUnitIsTouched_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<quint32>("codec");
    // Empty: no file at all.
    QTest::addColumn<QByteArray>("file");

    const Bytes image = PackageFolder::pattern(4096, 1);
    auto build = [](FirmwarePackageWriter writer) {
        const Bytes bytes = writer.build();
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    };
    auto package = [&](uint16_t productId, const std::vector<Image>& images) {
        return build(PackageFolder::writer(productId, images));
    };

    const quint32 hq = DeviceUpdater::kProResHQ;
    QTest::newRow("product without a package")
        << 0xC3A7 << 0u << package(0xC3A7, {{image, 0, 0, 0}});
    QTest::newRow("no package file") << int(kModel0) << 0u << QByteArray();
    QTest::newRow("no entry for the product") << int(kModel0) << 0u << package(0xC34D, {{image}});
    {
        QByteArray file = package(kModel0, {{image}});
        file[file.size() - 10] = char(file[file.size() - 10] ^ 0x01);
        QTest::newRow("digest does not match") << int(kModel0) << 0u << file;
    }
    // A payload that does not inflate reads as no data.
    auto brokenAt = [&](uint16_t productId, std::vector<Image> images, size_t index) {
        FirmwarePackageWriter writer = PackageFolder::writer(productId, images);
        writer.packages()[index].compression = 1;
        writer.packages()[index].stored = Bytes(64, 0xEE); // not a zlib stream
        writer.packages()[index].uncompressedSize = 4096;
        return build(writer);
    };
    QTest::newRow("entry that does not inflate")
        << int(kModel0) << 0u << brokenAt(kModel0, {{image}, {image}}, 1);
    QTest::newRow("empty entry") << int(kModel0) << 0u << package(kModel0, {{image}, {Bytes()}});
    QTest::newRow("model 1 with one FPGA image")
        << int(kModel1) << 0u << package(kModel1, {{image}});
    QTest::newRow("model 1 with one FPGA image, HQ")
        << int(kModel1) << hq << package(kModel1, {{image}});
    QTest::newRow("model 1 with its HQ image broken")
        << int(kModel1) << hq << brokenAt(kModel1, {{image}, {image}, {image}}, 1);
    QTest::newRow("program type 1")
        << int(kModel0) << 0u << package(kModel0, {{image}, {image, 0, 1, 0}});
    QTest::newRow("program type 2")
        << int(kModel0) << 0u << package(kModel0, {{image, 0, 2, 0}, {image}});
}

// An update that cannot finish must not start: the unit is neither prepared nor written.
void DeviceUpdaterTest::badPackageFailsBeforeTheUnitIsTouched()
{
    QFETCH(int, productId);
    QFETCH(quint32, codec);
    QFETCH(QByteArray, file);
    const char* name = DeviceUpdater::packageFileName(uint16_t(productId));
    if (name && !file.isEmpty()) {
        QFile out(QString::fromStdString(m_folder.filePath(name)));
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file), qint64(file.size()));
    }
    Run run{uint16_t(productId)};
    run.updater.setCodecMode(codec);
    QVERIFY(!run.go());
    QCOMPARE(run.completions, std::vector<bool>{false});
    QCOMPARE(run.device->callCount("prepareForUpdate"), 0);
    QCOMPARE(run.device->callCount("program"), 0);
    QCOMPARE(run.device->callCount("rebootAfterUpdate"), 0);
    QVERIFY(run.progress.empty());
    if (name)
        m_folder.remove(name);
}

void DeviceUpdaterTest::fpgaImageFollowsTheCodec_data()
{
    QTest::addColumn<quint32>("codec");
    QTest::addColumn<int>("fpgaImage");
    QTest::newRow("none") << 0u << 0;
    QTest::newRow("ProRes HQ") << quint32(DeviceUpdater::kProResHQ) << 1;
    QTest::newRow("ProRes 422") << 0x6170636Eu << 0; // "apcn"
}

void DeviceUpdaterTest::fpgaImageFollowsTheCodec()
{
    QFETCH(quint32, codec);
    QFETCH(int, fpgaImage);
    const Bytes standard = PackageFolder::pattern(3000, 1);
    const Bytes hq = PackageFolder::pattern(3000, 2);
    const Bytes cpu = PackageFolder::pattern(1000, 3);
    QVERIFY(m_folder.write("data-c35a.bin", kModel1, {{standard}, {hq}, {cpu, 1, 0, 0x400000}}));
    Run run(kModel1);
    QVERIFY(run.updater.setCodecMode(codec));
    QCOMPARE(run.device->codecModes, std::vector<uint32_t>{codec});
    QVERIFY(run.go());
    QCOMPARE(run.programmed(), (std::vector<Bytes>{fpgaImage ? hq : standard, cpu}));
    // A new device forgets the codec.
    run.updater.setDevice(run.device);
    QCOMPARE(run.updater.codecMode(), 0u);
}

void DeviceUpdaterTest::entriesGoWhereTheirDescriptorsSay()
{
    const Bytes flash = PackageFolder::pattern(2048, 4);
    const Bytes xmega = PackageFolder::pattern(1024, 5);
    QVERIFY(m_folder.write("data-c3e4.bin", 0xC3E4, {{xmega, 0, 3, 0}, {flash, 2, 0, 0x12345678}}));
    Run run(0xC3E4);
    QVERIFY(run.go());
    const auto& calls = run.device->programCalls;
    QCOMPARE(int(calls.size()), 2);
    QCOMPARE(calls[0].type, ProgramType::XmegaImage);
    QCOMPARE(calls[0].data, xmega);
    QCOMPARE(calls[1].type, ProgramType::FlashImage);
    QCOMPARE(int(calls[1].target), 2);
    QCOMPARE(calls[1].address, 0x12345678u);
    QCOMPARE(calls[1].data, flash);
    QCOMPARE(run.device->calls(),
             (std::vector<std::string>{"getProductId", "prepareForUpdate", "shouldProgramType3",
                                       "program", "program", "rebootAfterUpdate", "isConnected"}));
}

void DeviceUpdaterTest::progressCoversTheWholeJob()
{
    QVERIFY(m_folder.write("data-c34c.bin", kModel0,
                           {{PackageFolder::pattern(3000, 1)}, {PackageFolder::pattern(1000, 2)}}));
    Run run(kModel0);
    run.device->progressSteps = {-1.0f, 0.5f, 1.0f};
    QVERIFY(run.go());
    QCOMPARE(run.completions, std::vector<bool>{true});
    // The first entry is three quarters of the bytes; the unit restarts without a figure.
    QCOMPARE(run.progress, (std::vector<float>{-1.0f, 0.375f, 0.75f, -1.0f, 0.875f, 1.0f, -1.0f}));
}

void DeviceUpdaterTest::skippedXmegaImageLeavesAGap()
{
    QVERIFY(m_folder.write(
        "data-c3e4.bin", 0xC3E4,
        {{PackageFolder::pattern(1000, 1)}, {PackageFolder::pattern(1000, 2), 0, 3, 0}}));
    Run run(0xC3E4);
    run.device->programType3 = false;
    run.device->progressSteps = {1.0f};
    QVERIFY(run.go());
    QCOMPARE(int(run.device->programCalls.size()), 1);
    QCOMPARE(run.progress, (std::vector<float>{0.5f, -1.0f}));
}

void DeviceUpdaterTest::failingStepEndsTheUpdate_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<int>("programs");
    QTest::addColumn<bool>("rebooted");
    QTest::newRow("product id") << "getProductId" << 0 << false;
    QTest::newRow("prepare") << "prepareForUpdate" << 0 << false;
    QTest::newRow("first program") << "program" << 1 << false;
    QTest::newRow("second program") << "program2" << 2 << false;
    QTest::newRow("reboot") << "rebootAfterUpdate" << 2 << true;
}

void DeviceUpdaterTest::failingStepEndsTheUpdate()
{
    QFETCH(QString, failing);
    QFETCH(int, programs);
    QFETCH(bool, rebooted);
    QVERIFY(m_folder.write("data-c34c.bin", kModel0,
                           {{PackageFolder::pattern(1000, 1)}, {PackageFolder::pattern(1000, 2)}}));
    Run run(kModel0);
    if (failing == "getProductId")
        run.device->productId = std::nullopt;
    else if (failing == "prepareForUpdate")
        run.device->prepareResult = false;
    else if (failing == "program")
        run.device->programResult = false;
    else if (failing == "program2")
        run.device->programResult.then(true), run.device->programResult.then(false);
    else
        run.device->rebootResult = false;
    QVERIFY(!run.go());
    QCOMPARE(run.completions, std::vector<bool>{false});
    QCOMPARE(run.device->callCount("program"), programs);
    QCOMPARE(run.device->callCount("rebootAfterUpdate"), rebooted ? 1 : 0);
    QCOMPARE(run.device->callCount("isConnected"), 0);
}

void DeviceUpdaterTest::waitsFortyLooksForTheUnit_data()
{
    QTest::addColumn<int>("silentLooks");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<int>("looks");
    QTest::newRow("back at once") << 0 << true << 1;
    QTest::newRow("back at the last look") << 39 << true << 40;
    QTest::newRow("never back") << 40 << false << 40;
}

void DeviceUpdaterTest::waitsFortyLooksForTheUnit()
{
    QFETCH(int, silentLooks);
    QFETCH(bool, succeeded);
    QFETCH(int, looks);
    QVERIFY(m_folder.write("data-c34c.bin", kModel0, {{PackageFolder::pattern(100, 1)}}));
    Run run(kModel0);
    for (int i = 0; i < silentLooks; ++i)
        run.device->connected.then(false);
    if (silentLooks >= 40)
        run.device->connected = false;
    QCOMPARE(run.go(), succeeded);
    QCOMPARE(run.device->callCount("isConnected"), looks);
    QCOMPARE(run.clock->sleeps(), looks - 1);
    QCOMPARE(run.clock->sleptMs(), uint64_t(looks - 1) * DeviceUpdater::kReturnIntervalMs);
}

void DeviceUpdaterTest::holdsOneReferenceOnTheUnit()
{
    std::atomic<int> destroyed{0};
    auto* first = new FakeKestrel(kModel0);
    first->destroyed = &destroyed;
    auto* second = new FakeKestrel(kModel0);
    second->destroyed = &destroyed;
    {
        DeviceUpdater updater;
        updater.setDevice(first);
        QCOMPARE(first->release(), 1u); // the updater's own
        updater.setDevice(second);
        QCOMPARE(destroyed.load(), 1);
        second->release();
        QCOMPARE(destroyed.load(), 1);
    }
    QCOMPARE(destroyed.load(), 2);
}

void DeviceUpdaterTest::adaptorReportsPercentAndStatus()
{
    QVERIFY(m_folder.write("data-c34c.bin", kModel0,
                           {{PackageFolder::pattern(1000, 1)}, {PackageFolder::pattern(1000, 2)}}));
    auto* device = new FakeKestrel(kModel0);
    device->progressSteps = {0.5f, 1.0f};
    device->firmwareCurrent = false;
    auto updater = VisibleUSBKestrelFirmwareUpdater::create(device);
    device->release();
    updater->updater().setWaitClock(std::make_shared<ManualClock>());
    QVERIFY(!updater->checkDevice());
    QSignalSpy percent(updater.data(), &DeviceFirmwareUpdater::firmwareUpdateProgress);
    QSignalSpy status(updater.data(), &DeviceFirmwareUpdater::firmwareUpdated);

    updater->start();
    QTRY_COMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toInt(), int(DeviceFirmwareUpdater::Succeeded));
    QList<int> seen;
    for (const auto& args : percent)
        seen << args.at(0).toInt();
    QCOMPARE(seen, (QList<int>{25, 50, 75, 100, -1}));

    // A second update reports once more, and a failing one as failure. The scripted unit is
    // changed only once the first run has left its thread.
    updater->updater().waitForEnd();
    device->programResult = false;
    updater->start();
    QTRY_COMPARE(status.count(), 2);
    QCOMPARE(status.at(1).at(0).toInt(), int(DeviceFirmwareUpdater::Failed));
    QTest::qWait(20);
    QCOMPARE(status.count(), 2);
}

QTEST_MAIN(DeviceUpdaterTest)
#include "tst_deviceupdater.moc"
