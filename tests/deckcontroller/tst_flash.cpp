#include "deckbench.h"

#include "platform/bytereader.h"
#include "sim/deckcontroller/zynqbootimage.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {

constexpr uint32_t kBank = 0x40000;

std::vector<uint8_t> padded(std::vector<uint8_t> image)
{
    image.resize(kBank, 0xFF);
    return image;
}

// First units of the erase requests, in order.
QList<uint32_t> erasedUnits(const DeckBench& bench)
{
    QList<uint32_t> units;
    for (const Sim::LogEntry& e : bench.log()) {
        uint32_t first = 0;
        if (e.kind == Sim::LogEntry::Control && e.setup.requestType == 0x41 &&
            e.setup.request == 0x37 &&
            Platform::ByteReader(e.data.data(), e.data.size()).u32(0, &first))
            units << first;
    }
    return units;
}

bool writeImage(DeckControllerXmegaDevice& device, const std::vector<uint8_t>& image,
                std::vector<float>* progress = nullptr)
{
    return device.writeImage(image.data(), uint32_t(image.size()), [progress](float f) {
        if (progress)
            progress->push_back(f);
    });
}

} // namespace

class TestFlash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void imageLargerThanABankFailsBeforeAnyRequest();
    void theBankNotBootedIsWrittenFirst_data();
    void theBankNotBootedIsWrittenFirst();
    void banksHoldingTheImageAreNotWritten();
    void powerCutAtAnyStepLeavesABootableBank();
    void zeroGeometryIsRefused();
    void eraseRangeMustStayInsideItsBank();
    void programErasesThenWrites();
    void programFailsBeforeWritingWhenEraseDoesNotFinish();
    void xmegaFirmwareGoesThroughTheBootLoader_data();
    void xmegaFirmwareGoesThroughTheBootLoader();
    void unitThatDoesNotComeBackEndsTheRebootWait();
};

void TestFlash::imageLargerThanABankFailsBeforeAnyRequest()
{
    DeckBench bench;
    auto device = bench.device();
    bench.clearLog();
    QVERIFY(!writeImage(*device, std::vector<uint8_t>(kBank + 1, 0)));
    QVERIFY(bench.log().empty());
}

void TestFlash::theBankNotBootedIsWrittenFirst_data()
{
    QTest::addColumn<bool>("bankAValid");
    QTest::addColumn<QList<uint32_t>>("order");
    // Erase units of 64 KiB: bank B starts at unit 4.
    QTest::newRow("valid header in bank A") << true << QList<uint32_t>{4, 0};
    QTest::newRow("no valid header in bank A") << false << QList<uint32_t>{0, 4};
}

void TestFlash::theBankNotBootedIsWrittenFirst()
{
    QFETCH(bool, bankAValid);
    QFETCH(QList<uint32_t>, order);
    auto unit = std::make_shared<Sim::DeckControllerUnit>();
    auto old = Sim::ZynqBootImage::make(0x20000, 7);
    if (!bankAValid)
        old[0x24] ^= 1;
    unit->setBank(0, old);
    unit->setBank(1, Sim::ZynqBootImage::make(0x20000, 8));
    DeckBench bench(unit);
    auto device = bench.device();
    QVERIFY(device->beginUpdate());
    bench.clearLog();

    // A short image: the rest of each bank is erased flash.
    const auto image = Sim::ZynqBootImage::make(0x30001, 9);
    std::vector<float> progress;
    QVERIFY(writeImage(*device, image, &progress));
    QVERIFY(device->endUpdate());
    QCOMPARE(erasedUnits(bench), order);
    QVERIFY(bench.unit().bank(0) == padded(image));
    QVERIFY(bench.unit().bank(1) == padded(image));
    QCOMPARE(progress, (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f, 1.0f}));
}

void TestFlash::banksHoldingTheImageAreNotWritten()
{
    const auto image = Sim::ZynqBootImage::make(0x1000, 3);
    auto unit = std::make_shared<Sim::DeckControllerUnit>();
    unit->setBank(0, image);
    unit->setBank(1, image);
    DeckBench bench(unit);
    auto device = bench.device();
    QVERIFY(device->beginUpdate());
    bench.clearLog();
    std::vector<float> progress;
    QVERIFY(writeImage(*device, image, &progress));
    QCOMPARE(bench.count(0x37), 0);
    QCOMPARE(bench.count(0x39), 0);
    QCOMPARE(progress, (std::vector<float>{0.0f, 0.5f, 1.0f}));
}

void TestFlash::powerCutAtAnyStepLeavesABootableBank()
{
    // Every step of the write is cut once, and each cut rewrites the image: a new image over
    // two erase units, shorter than the old one, keeps every kind of step at a modest count.
    const auto old = Sim::ZynqBootImage::make(0x28000, 11);
    const auto image = Sim::ZynqBootImage::make(0x14000, 12);
    auto makeUnit = [&] {
        auto unit = std::make_shared<Sim::DeckControllerUnit>();
        unit->setBank(0, old);
        unit->setBank(1, old);
        unit->setBank(1, std::vector<uint8_t>(100, 0)); // bank B: a torn earlier attempt
        return unit;
    };

    // The steps of a write that runs through.
    int steps = 0;
    {
        DeckBench bench(makeUnit());
        auto device = bench.device();
        QVERIFY(device->beginUpdate());
        bench.unit().setDeckFaults({});
        QVERIFY(writeImage(*device, image));
        steps = bench.unit().steps();
    }
    QVERIFY(steps > 20);

    for (int cut = 1; cut < steps; ++cut) {
        DeckBench bench(makeUnit());
        auto device = bench.device();
        QVERIFY(device->beginUpdate());
        Sim::DeckControllerFaults faults;
        faults.powerCutAfterStep = cut;
        bench.unit().setDeckFaults(faults);
        const auto before = bench.handle().device();
        QVERIFY2(!writeImage(*device, image), qPrintable(QString("cut after %1").arg(cut)));
        QCOMPARE(bench.unit().powerCuts(), 1);

        // Back on the bus, the unit runs a whole image from a bank whose header holds.
        QVERIFY(bench.waitForNewDevice(before));
        const int booted = bench.unit().bootedBank();
        QVERIFY2(booted >= 0, qPrintable(QString("nothing to boot after step %1").arg(cut)));
        const auto bank = bench.unit().bank(booted);
        QVERIFY2(bank == padded(old) || bank == padded(image),
                 qPrintable(QString("bank %1 torn after step %2").arg(booted).arg(cut)));
        QCOMPARE(bench.unit().persona(), Sim::DeckControllerUnit::Persona::Application);

        // And the next attempt completes.
        QVERIFY(device->beginUpdate());
        QVERIFY2(writeImage(*device, image), qPrintable(QString("retry after %1").arg(cut)));
        QVERIFY(bench.unit().bank(0) == padded(image));
        QVERIFY(bench.unit().bank(1) == padded(image));
    }
}

void TestFlash::zeroGeometryIsRefused()
{
    DeckBench bench;
    auto device = bench.device();
    QVERIFY(device->beginUpdate());
    const auto image = Sim::ZynqBootImage::make(0x1000, 3);
    const uint32_t geometries[][2] = {{0, 256}, {0x10000, 0}, {0, 0}};
    for (const auto& g : geometries) {
        bench.unit().overrideGeometry(g[0], g[1]);
        bench.clearLog();
        QVERIFY(!writeImage(*device, image));
        QVERIFY(!device->program(0, 0, image.data(), uint32_t(image.size()), {}));
        QCOMPARE(bench.count(0x37), 0);
        QCOMPARE(bench.count(0x39), 0);
    }
}

void TestFlash::eraseRangeMustStayInsideItsBank()
{
    // 96 KiB erase units do not divide the bank: an erase of bank B would reach bank A.
    Sim::DeckControllerUnit::DeckOptions options;
    options.eraseUnit = 0x18000;
    auto unit = std::make_shared<Sim::DeckControllerUnit>(options);
    const auto old = Sim::ZynqBootImage::make(0x1000, 4);
    unit->setBank(0, old);
    DeckBench bench(unit);
    auto device = bench.device();
    QVERIFY(device->beginUpdate());
    bench.clearLog();
    QVERIFY(!writeImage(*device, Sim::ZynqBootImage::make(0x1000, 5)));
    QCOMPARE(bench.count(0x37), 0);
    QVERIFY(bench.unit().bank(0) == padded(old));
}

void TestFlash::programErasesThenWrites()
{
    DeckBench bench;
    bench.unit().addTarget(3, 0x10000, 0x1000, 64);
    auto device = bench.device();
    QVERIFY(device->beginUpdate());
    std::vector<uint8_t> data(0x2100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 13);
    auto before = bench.unit().target(3).bytes;
    before[0x3000] = 0; // inside the erased range: gone after
    bench.unit().setTargetBytes(3, before);

    std::vector<float> progress;
    QVERIFY(device->program(3, 0x2000, data.data(), uint32_t(data.size()),
                            [&](float f) { progress.push_back(f); }));
    const auto after = bench.unit().target(3).bytes;
    QVERIFY(std::equal(data.begin(), data.end(), after.begin() + 0x2000));
    QCOMPARE(after[0x2000 + data.size()], uint8_t(0xFF));
    QVERIFY(!progress.empty());
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QCOMPARE(progress.back(), 1.0f);
    QVERIFY(progress.front() <= 0.5f);
}

void TestFlash::programFailsBeforeWritingWhenEraseDoesNotFinish()
{
    DeckBench bench;
    Sim::XmegaFaults faults;
    faults.eraseError = true;
    bench.unit().setFaults(faults);
    auto device = bench.device();
    QVERIFY(device->beginUpdate());
    bench.clearLog();
    const std::vector<uint8_t> data(0x1000, 0x42);
    QVERIFY(!device->program(0, 0x10000, data.data(), uint32_t(data.size()), {}));
    QCOMPARE(bench.count(0x37), 1);
    QCOMPARE(bench.count(0x39), 0);
}

void TestFlash::xmegaFirmwareGoesThroughTheBootLoader_data()
{
    QTest::addColumn<bool>("startInBootloader");
    QTest::addColumn<int>("reboots");
    QTest::newRow("running its application") << false << 2;
    QTest::newRow("already in its boot loader") << true << 1;
}

void TestFlash::xmegaFirmwareGoesThroughTheBootLoader()
{
    QFETCH(bool, startInBootloader);
    QFETCH(int, reboots);
    DeckBench bench;
    auto device = bench.device();
    if (startInBootloader) {
        const auto before = bench.handle().device();
        QVERIFY(before->rebootToBootloader());
        QVERIFY(bench.waitForNewDevice(before));
        bench.removals.clear();
    }
    std::vector<uint8_t> firmware(5000);
    for (size_t i = 0; i < firmware.size(); ++i)
        firmware[i] = uint8_t(i ^ (i >> 8));
    const int rebootsBefore = bench.unit().rebootRequests();

    // The reboot waits need this thread to handle the unit's comings and goings.
    std::atomic<int> result{-1};
    std::thread updater([&] {
        result = device->writeXmegaFirmware(firmware.data(), uint32_t(firmware.size())) ? 1 : 0;
    });
    QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 20000);
    updater.join();
    QCOMPARE(result.load(), 1);
    QCOMPARE(bench.unit().rebootRequests() - rebootsBefore, reboots);
    QVERIFY(bench.unit().bootloaderDownloadDone());
    const auto taken = bench.unit().bootloaderImage();
    QVERIFY(taken.size() >= firmware.size());
    QVERIFY(std::equal(firmware.begin(), firmware.end(), taken.begin()));
    QCOMPARE(bench.unit().persona(), Sim::DeckControllerUnit::Persona::Application);
    QVERIFY(bench.removals.empty());
}

void TestFlash::unitThatDoesNotComeBackEndsTheRebootWait()
{
    DeckBench bench;
    Sim::XmegaFaults faults;
    faults.rebootNeverReturns = true;
    bench.unit().setFaults(faults);
    auto device = bench.device();
    const std::vector<uint8_t> firmware(300, 0x11);
    std::atomic<int> result{-1};
    std::thread updater([&] {
        result = device->writeXmegaFirmware(firmware.data(), uint32_t(firmware.size())) ? 1 : 0;
    });
    // The registry's reboot timer (5 s) gives the unit up; the wait ends with it.
    QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 20000);
    updater.join();
    QCOMPARE(result.load(), 0);
    QCOMPARE(int(bench.removals.size()), 1);
    QVERIFY(!bench.unit().bootloaderDownloadDone());
}

QTEST_GUILESS_MAIN(TestFlash)
#include "tst_flash.moc"
