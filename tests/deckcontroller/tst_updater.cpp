#include "deckbench.h"

#include "firmwarepackagewriter.h"
#include "plugins/deckcontroller/firmwarecatalogue.h"
#include "plugins/deckcontroller/visibledeckcontrollerfirmwareupdater.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "sim/deckcontroller/zynqbootimage.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Entry
{
    Entry(std::vector<uint8_t> payload, uint8_t target, uint32_t address = 0, uint8_t flags = 1)
        : payload(std::move(payload))
        , target(target)
        , address(address)
        , flags(flags)
    {
    }
    std::vector<uint8_t> payload;
    uint8_t target; // the plug-in's target: descriptor byte 8
    uint32_t address;
    uint8_t flags; // bit 1 alone: an entry that is carried but not written
    std::optional<std::vector<uint8_t>> stored;
};

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 31 + seed);
    return bytes;
}

const std::vector<uint8_t>& image()
{
    static const std::vector<uint8_t> bytes = Sim::ZynqBootImage::make(0x30000, 21);
    return bytes;
}

QList<int> percents(const QSignalSpy& spy)
{
    QList<int> out;
    for (const QList<QVariant>& args : spy)
        out << args.at(0).toInt();
    return out;
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void updateWritesEveryEntry();
    void damagedPackageFailsBeforeUpdateMode_data();
    void damagedPackageFailsBeforeUpdateMode();
    void failedWriteLeavesUpdateMode();
    void onlySkippedEntriesStillBracketTheUpdate();
    void everyRunReportsFromZero();
    void startWhileRunningStartsNothing();
    void progressShownAsPercent();
    void firmwareCurrentIsTheDevicesAnswer();
    void catalogueOfTheProduct();
    void catalogueOfMissingFileIsNotKept();

private:
    void writePackage(const std::vector<Entry>& entries, bool flipLastByte = false);
    // Runs one update to its end; the status it reported.
    int runUpdate(VisibleDeckControllerFirmwareUpdater& updater, QSignalSpy* progress = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestUpdater::init()
{
    FirmwareCatalogue::dropCatalogues();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    FirmwareFileLocator::setResourcesDirectory(m_dir->path().toStdString());
}

void TestUpdater::cleanup()
{
    FirmwareCatalogue::dropCatalogues();
    FirmwareFileLocator::setResourcesDirectory({});
    m_dir.reset();
}

void TestUpdater::writePackage(const std::vector<Entry>& entries, bool flipLastByte)
{
    FirmwarePackageWriter writer;
    for (const Entry& e : entries) {
        FirmwarePackageWriter::Package& p = writer.addPackage();
        p.payload = e.payload;
        p.flags = e.flags;
        if (e.stored) {
            p.compression = 1;
            p.stored = e.stored;
        }
        auto d = FirmwarePackageWriter::Descriptor::firmware(0xBE32, 0, e.address);
        d.region = e.target;
        p.descriptors.push_back(d);
    }
    std::string error;
    auto bytes = writer.build(&error);
    QVERIFY2(!bytes.empty(), error.c_str());
    if (flipLastByte)
        bytes.back() ^= 0x01;
    const std::string path = m_dir->filePath("data-be32.bin").toStdString();
    QVERIFY(FirmwarePackageWriter::writeFile(path, bytes, &error));
}

int TestUpdater::runUpdate(VisibleDeckControllerFirmwareUpdater& updater, QSignalSpy* progress)
{
    QSignalSpy done(&updater, &DeviceFirmwareUpdater::firmwareUpdated);
    updater.start();
    if (!done.wait(60000))
        return -1;
    // The last progress is queued before the end.
    if (progress)
        QCoreApplication::processEvents();
    return done.at(0).at(0).toInt();
}

void TestUpdater::updateWritesEveryEntry()
{
    const auto first = pattern(0x1000, 1);
    const auto skipped = pattern(0x1000, 2);
    writePackage({{first, 3, 0x1000}, {skipped, 3, 0x8000, 2}, {image(), 255}});
    DeckBench bench;
    bench.unit().addTarget(3, 0x10000, 0x1000, 64);
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    QSignalSpy progress(&updater, &DeviceFirmwareUpdater::firmwareUpdateProgress);

    QCOMPARE(runUpdate(updater, &progress), 0);
    const QList<int> seen = percents(progress);
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.front(), 0);
    QCOMPARE(seen.back(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));

    const auto target = bench.unit().target(3).bytes;
    QVERIFY(std::equal(first.begin(), first.end(), target.begin() + 0x1000));
    QVERIFY(std::all_of(target.begin() + 0x8000, target.begin() + 0x9000,
                        [](uint8_t b) { return b == 0xFF; }));
    auto bank = image();
    bank.resize(0x40000, 0xFF);
    QVERIFY(bench.unit().bank(0) == bank);
    QVERIFY(bench.unit().bank(1) == bank);
    QVERIFY(!bench.unit().inUpdateMode());
    QCOMPARE(bench.count(0x31), 1);
}

void TestUpdater::damagedPackageFailsBeforeUpdateMode_data()
{
    QTest::addColumn<bool>("flip");
    QTest::addColumn<bool>("noData");
    QTest::newRow("a flipped byte") << true << false;
    QTest::newRow("a payload that does not inflate") << false << true;
}

void TestUpdater::damagedPackageFailsBeforeUpdateMode()
{
    QFETCH(bool, flip);
    QFETCH(bool, noData);
    Entry entry{image(), 255};
    if (noData)
        entry.stored = std::vector<uint8_t>(64, 0x33);
    writePackage({{pattern(0x100, 3), 3, 0}, entry}, flip);
    DeckBench bench;
    bench.unit().addTarget(3, 0x10000, 0x1000, 64);
    const auto before = bench.unit().bank(0);
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    bench.clearLog();
    QCOMPARE(runUpdate(updater), 1);
    // The unit was not touched: not even its update mode.
    QCOMPARE(bench.count(0x30), 0);
    QCOMPARE(bench.count(0x31), 0);
    QVERIFY(bench.unit().bank(0) == before);
}

void TestUpdater::failedWriteLeavesUpdateMode()
{
    writePackage({{image(), 255}});
    DeckBench bench;
    bench.unit().overrideGeometry(0x10000, 0);
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    bench.clearLog();
    QCOMPARE(runUpdate(updater), 1);
    QCOMPARE(bench.count(0x31), 1);
    QCOMPARE(bench.count(0x32), 1);
    QVERIFY(!bench.unit().inUpdateMode());
}

void TestUpdater::onlySkippedEntriesStillBracketTheUpdate()
{
    writePackage({{pattern(0x100, 4), 3, 0, 2}});
    DeckBench bench;
    bench.unit().addTarget(3, 0x10000, 0x1000, 64);
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    QSignalSpy progress(&updater, &DeviceFirmwareUpdater::firmwareUpdateProgress);
    bench.clearLog();
    QCOMPARE(runUpdate(updater, &progress), 0);
    QCOMPARE(percents(progress), QList<int>{0});
    QCOMPARE(bench.count(0x31), 1);
    QCOMPARE(bench.count(0x39), 0);
    QVERIFY(!bench.unit().inUpdateMode());
}

void TestUpdater::everyRunReportsFromZero()
{
    writePackage({{pattern(0x1000, 5), 3, 0}, {pattern(0x1000, 6), 3, 0x4000}});
    DeckBench bench;
    bench.unit().addTarget(3, 0x10000, 0x1000, 64);
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    for (int run = 0; run < 2; ++run) {
        QSignalSpy progress(&updater, &DeviceFirmwareUpdater::firmwareUpdateProgress);
        QCOMPARE(runUpdate(updater, &progress), 0);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(percents(progress).front(), 0);
    }
}

void TestUpdater::startWhileRunningStartsNothing()
{
    writePackage({{pattern(0x1000, 7), 3, 0}});
    DeckBench bench;
    bench.unit().addTarget(3, 0x10000, 0x1000, 64);
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    QSignalSpy done(&updater, &DeviceFirmwareUpdater::firmwareUpdated);
    bench.clearLog();
    updater.start();
    updater.start();
    QVERIFY(done.wait(60000));
    QTRY_VERIFY(!updater.isUpdating());
    QCoreApplication::processEvents();
    QCOMPARE(done.count(), 1);
    QCOMPARE(bench.count(0x31), 1);
}

void TestUpdater::progressShownAsPercent()
{
    DeckBench bench;
    auto device = bench.device();
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    QSignalSpy progress(&updater, &DeviceFirmwareUpdater::firmwareUpdateProgress);
    for (float f : {-1.0f, -0.5f, 0.0f, 0.999f, 1.0f})
        updater.onProgress(f);
    QCOMPARE(percents(progress), (QList<int>{-1, -1, 0, 99, 100}));
}

void TestUpdater::firmwareCurrentIsTheDevicesAnswer()
{
    DeckBench bench;
    auto device = bench.device();
    NullDelegate delegate;
    device->setDelegate(&delegate);
    VisibleDeckControllerFirmwareUpdater updater(device.get());
    QVERIFY(updater.checkDevice());
    auto state = bench.unit().services().state();
    state.cpuChecksum = 0;
    bench.unit().services().setState(state);
    QVERIFY(!updater.checkDevice());
}

void TestUpdater::catalogueOfTheProduct()
{
    writePackage({{pattern(0x10, 8), 3, 0}, {pattern(0x20, 9), 4, 0x100}});
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, FirmwareCatalogue::getCatalogue(0xC3E4));
    try {
        FirmwareCatalogue::getCatalogue(0xC3E4);
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString(e.what()),
                 QStringLiteral("GetResourceDescriptions: Unsupported product\n"));
    }
    FirmwareCatalogue* catalogue = FirmwareCatalogue::getCatalogue(0xBE32);
    QVERIFY(catalogue);
    QCOMPARE(FirmwareCatalogue::getCatalogue(0xBE32), catalogue);
    QCOMPARE(QString::fromStdString(catalogue->availableFirmware()),
             QStringLiteral("XMEGA:0x7f6403e6\nCPU:0xc0fb1f17\nFPGA:0x00000000"));
    QCOMPARE(int(catalogue->entryCount()), 2);
    QVERIFY(!catalogue->getEntry(2, true));
    FirmwarePackageEntry* second = catalogue->getEntry(1, false);
    QVERIFY(second);
    QCOMPARE(FirmwareCatalogue::entryTarget(*second), uint8_t(4));
    QCOMPARE(FirmwareCatalogue::entryAddress(*second), uint32_t(0x100));
    QCOMPARE(second->size(), uint32_t(0x20));
}

void TestUpdater::catalogueOfMissingFileIsNotKept()
{
    try {
        FirmwareCatalogue::getCatalogue(0xBE32);
        QFAIL("a catalogue without its file");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString(e.what()), QStringLiteral("Open resource file failed\n"));
    }
    writePackage({{pattern(0x10, 8), 3, 0}});
    QVERIFY(FirmwareCatalogue::getCatalogue(0xBE32));
}

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
