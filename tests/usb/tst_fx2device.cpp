#include "fx2fixture.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::vector<uint8_t>)
Q_DECLARE_METATYPE(std::vector<uint32_t>)

using namespace CVN::USB;

namespace {

uint16_t released(IUSBDevice* device)
{
    uint16_t value = 0;
    return device->wordProperty828(&value) == kCVNUsbSuccess ? value : 0xFFFF;
}

} // namespace

class Fx2DeviceTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Sim::UsbBus::instance().reset(); }

    void needsRamFirmwareFollowsDeviceRelease();
    void ramLoadHoldsLoadsReleasesAndReenumerates();
    void imageStartingWithEndRecordOnlyHoldsAndReleases();
    void malformedImageIsRefusedBeforeAnyRequest_data();
    void malformedImageIsRefusedBeforeAnyRequest();
    void writeRamRetries_data();
    void writeRamRetries();

    void identityHeaderWrittenOnceAndReadBack();
    void bootImageWrittenAndReadBack_data();
    void bootImageWrittenAndReadBack();
    void interruptedBootImageLeavesIdentityHeader();
    void bootImageTooLargeForEepromIsRefused();
    void clearBootHeader();
    void shortHeaderBufferIsRefused();

    void registersAndVendorBytes();
    void dataPathCache();

    void eraseFlashRange_data();
    void eraseFlashRange();
    void eraseThatNeverFinishesIsTriedTwice();
    void writeMethods_data();
    void writeMethods();
    void writeFlashDataNeedsHardwareAccess();
    void endFlashUpdate_data();
    void endFlashUpdate();
    void leaveResetsHardwareTarget();
};

void Fx2DeviceTest::needsRamFirmwareFollowsDeviceRelease()
{
    for (bool running : {false, true}) {
        Fx2Bench bench(running);
        TestFx2Device* device = bench.makeDevice();
        bool needed = !running;
        QVERIFY(device->needsRamFirmware(&needed));
        QCOMPARE(needed, !running);
        device->Release();
    }
}

void Fx2DeviceTest::ramLoadHoldsLoadsReleasesAndReenumerates()
{
    Fx2Bench bench(false);
    const std::vector<uint8_t> a = patternBytes(16, 1);
    const std::vector<uint8_t> b = patternBytes(200, 2);
    // A record behind the end record is not part of the RAM image.
    const std::vector<uint8_t> image = concat(
        {fx2Record(0x0000, a), fx2Record(0x1200, b), fx2EndRecord(), fx2Record(0x3000, {9, 9})});
    USBProductEntry entry{0xC34C, &TestFx2Device::create, image.data(), image.size()};

    WatchedRegistration watch;
    DeviceCollector& watcher = watch.collector;
    QCOMPARE(released(watcher.arrivals.at(0)), Sim::Fx2Device::kBootRelease);

    TestFx2Device* device = bench.makeDevice(&entry);
    QVERIFY(!device->open()); // gives the device up: it comes back as a new one
    QVERIFY(!device->usbDevice());
    device->Release();

    const auto writes = bench.model->ramWrites();
    QCOMPARE(int(writes.size()), 4);
    QCOMPARE(writes.front().address, uint16_t(0xE600));
    QCOMPARE(writes.front().data, std::vector<uint8_t>{1});
    QCOMPARE(writes[1].address, uint16_t(0x0000));
    QCOMPARE(writes[2].address, uint16_t(0x1200));
    QCOMPARE(writes.back().address, uint16_t(0xE600));
    QCOMPARE(writes.back().data, std::vector<uint8_t>{0});
    QCOMPARE(bench.model->ram(0x0000, 16), a);
    QCOMPARE(bench.model->ram(0x1200, 200), b);
    QCOMPARE(bench.model->ram(0x3000, 2), (std::vector<uint8_t>{0, 0}));
    QCOMPARE(bench.model->ramWritesWhileRunning(), 0);
    QVERIFY(!bench.model->cpuHeld());

    QTRY_COMPARE(int(watcher.arrivals.size()), 2);
    QCOMPARE(int(watcher.removals.size()), 1);
    QCOMPARE(released(watcher.arrivals[1]), Sim::Fx2Device::kRunningRelease);

    // The new device opens without another load.
    TestFx2Device* again = new TestFx2Device(watcher.arrivals[1], &entry);
    bool needed = true;
    QVERIFY(again->needsRamFirmware(&needed));
    QVERIFY(!needed);
    QVERIFY(again->open());
    again->Release();
}

void Fx2DeviceTest::imageStartingWithEndRecordOnlyHoldsAndReleases()
{
    Fx2Bench bench(false);
    bench.model->setReenumerateOnRun(false);
    const std::vector<uint8_t> image = concat({fx2EndRecord(), fx2Record(0x100, {1, 2, 3})});
    USBProductEntry entry{0xC34C, &TestFx2Device::create, image.data(), image.size()};
    TestFx2Device* device = bench.makeDevice(&entry);
    QVERIFY(device->loadRamFirmware());
    const auto writes = bench.controlRequests(Sim::Fx2Peripheral::RamWrite);
    QCOMPARE(int(writes.size()), 2);
    QCOMPARE(writes[0].data, std::vector<uint8_t>{1});
    QCOMPARE(writes[1].data, std::vector<uint8_t>{0});
    device->Release();
}

void Fx2DeviceTest::malformedImageIsRefusedBeforeAnyRequest_data()
{
    QTest::addColumn<std::vector<uint8_t>>("image");
    std::vector<uint8_t> cut = fx2Record(0x10, patternBytes(20));
    cut.resize(10);
    QTest::newRow("data runs past the end") << cut;
    QTest::newRow("header cut short") << concat({fx2Record(0, {1}), {4, 0}});
    QTest::newRow("length byte alone") << std::vector<uint8_t>{0xFF};
}

void Fx2DeviceTest::malformedImageIsRefusedBeforeAnyRequest()
{
    QFETCH(std::vector<uint8_t>, image);
    Fx2Bench bench(false);
    USBProductEntry entry{0xC34C, &TestFx2Device::create, image.data(), image.size()};
    TestFx2Device* device = bench.makeDevice(&entry);
    QVERIFY(!device->loadRamFirmware());
    QVERIFY(bench.controlRequests(Sim::Fx2Peripheral::RamWrite).empty());
    QVERIFY(!bench.model->cpuHeld());
    QVERIFY(!device->open());
    QVERIFY(bench.controlRequests(Sim::Fx2Peripheral::RamWrite).empty());
    device->Release();
}

void Fx2DeviceTest::writeRamRetries_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("requests");
    QTest::newRow("no attempt") << 0 << 0 << false << 0;
    QTest::newRow("third attempt succeeds") << 3 << 2 << true << 3;
    QTest::newRow("all attempts fail") << 3 << 5 << false << 3;
}

void Fx2DeviceTest::writeRamRetries()
{
    QFETCH(int, attempts);
    QFETCH(int, failures);
    QFETCH(bool, ok);
    QFETCH(int, requests);
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device);
    bench.model->stallRequests(Sim::Fx2Peripheral::RamWrite, failures);
    const uint8_t data[3] = {7, 8, 9};
    QCOMPARE(device->writeRam(0x2000, 3, data, attempts), ok);
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::RamWrite).size()), requests);
    QCOMPARE(device->sleptMs, uint64_t(0)); // no pause between attempts
}

void Fx2DeviceTest::identityHeaderWrittenOnceAndReadBack()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->programBootEeprom());
    const std::vector<uint8_t> expected = {0xC0, 0x4A, 0x2C, 0x4C, 0xC3, 0x01,
                                           0x00, 0x00, 0x00, 0x00, 0x00};
    std::vector<uint8_t> readBack(expected.size());
    for (size_t i = 0; i < readBack.size(); ++i)
        QVERIFY(device->readEepromByte(uint16_t(i), &readBack[i]));
    QCOMPARE(readBack, expected);
    QCOMPARE(device->sleptMs, uint64_t(10 * expected.size()));

    // Bytes already in place cost no write.
    bench.clearLog();
    QVERIFY(device->programBootEeprom());
    QVERIFY(bench.controlRequests(Sim::Fx2Peripheral::BootEepromWrite).empty());
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::BootEepromRead).size()), 11);
}

void Fx2DeviceTest::bootImageWrittenAndReadBack_data()
{
    QTest::addColumn<bool>("disconnect");
    QTest::newRow("configuration 0x01") << false;
    QTest::newRow("disconnect 0x41") << true;
}

void Fx2DeviceTest::bootImageWrittenAndReadBack()
{
    QFETCH(bool, disconnect);
    Fx2Bench bench;
    const std::vector<uint8_t> a = patternBytes(5, 3);
    const std::vector<uint8_t> b = patternBytes(3, 4);
    // Zero-length and end records are skipped; the walk goes on to the image's end.
    const std::vector<uint8_t> image =
        concat({fx2Record(0x1234, a), fx2Record(0x2000, {}), fx2EndRecord(), fx2Record(0xABCD, b)});
    USBProductEntry entry{0xC34C, &TestFx2Device::create, image.data(), image.size()};
    bench.device = bench.makeDevice(&entry);
    TestFx2Device* device = bench.device;
    QVERIFY(device->open());
    device->bootFormat = 1;
    device->disconnect = disconnect;
    QVERIFY(device->programBootEeprom());

    std::vector<uint8_t> expected = {0xC2, 0x4A, 0x2C, 0x4C,
                                     0xC3, 0x01, 0x00, uint8_t(disconnect ? 0x41 : 0x01)};
    expected.insert(expected.end(), {0x00, 5, 0x12, 0x34});
    expected.insert(expected.end(), a.begin(), a.end());
    expected.insert(expected.end(), {0x00, 3, 0xAB, 0xCD});
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), {0x80, 0x01, 0xE6, 0x00, 0x00});
    std::vector<uint8_t> readBack(expected.size() + 1);
    for (size_t i = 0; i < readBack.size(); ++i)
        QVERIFY(device->readEepromByte(uint16_t(i), &readBack[i]));
    QCOMPARE(readBack.back(), uint8_t(0xFF)); // nothing behind the closing entry
    readBack.pop_back();
    QCOMPARE(readBack, expected);

    // Byte 0 turns 0xC2 only at the very end.
    int lastWrite = -1, c2Write = -1, index = 0;
    for (const auto& e : bench.controlRequests(Sim::Fx2Peripheral::BootEepromWrite)) {
        if (e.setup.index == 0 && e.data == std::vector<uint8_t>{0xC2})
            c2Write = index;
        if (e.setup.index != 7)
            lastWrite = index;
        ++index;
    }
    QCOMPARE(c2Write, lastWrite);
}

void Fx2DeviceTest::interruptedBootImageLeavesIdentityHeader()
{
    Fx2Bench bench;
    const std::vector<uint8_t> image = concat({fx2Record(0x0100, patternBytes(40))});
    USBProductEntry entry{0xC34C, &TestFx2Device::create, image.data(), image.size()};
    bench.device = bench.makeDevice(&entry);
    QVERIFY(bench.device->open());
    bench.device->bootFormat = 1;
    bench.model->setStuckEepromByte(30);
    QVERIFY(!bench.device->programBootEeprom());
    const std::vector<uint8_t> eeprom = bench.model->eeprom();
    QCOMPARE(eeprom[0], uint8_t(0xC0));
    QCOMPARE(eeprom[29], patternBytes(40)[17]);
    QCOMPARE(eeprom[31], uint8_t(0xFF)); // stopped at the first failure
}

void Fx2DeviceTest::bootImageTooLargeForEepromIsRefused()
{
    Fx2Bench bench;
    std::vector<uint8_t> image;
    for (int i = 0; i < 260; ++i) {
        const auto r = fx2Record(uint16_t(i * 255), patternBytes(255, uint32_t(i)));
        image.insert(image.end(), r.begin(), r.end());
    }
    USBProductEntry entry{0xC34C, &TestFx2Device::create, image.data(), image.size()};
    bench.device = bench.makeDevice(&entry);
    QVERIFY(bench.device->open());
    bench.clearLog();
    QVERIFY(!bench.device->writeBootImage());
    QVERIFY(bench.log().empty());
}

void Fx2DeviceTest::clearBootHeader()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->clearBootHeader());
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::BootEepromRead).size()), 8);
    QVERIFY(bench.controlRequests(Sim::Fx2Peripheral::BootEepromWrite).empty());

    std::vector<uint8_t> eeprom = bench.model->eeprom();
    for (int i = 0; i < 10; ++i)
        eeprom[size_t(i)] = uint8_t(i);
    bench.model->setEeprom(eeprom);
    QVERIFY(device->clearBootHeader());
    eeprom = bench.model->eeprom();
    QCOMPARE(std::vector<uint8_t>(eeprom.begin(), eeprom.begin() + 10),
             (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 8, 9}));

    eeprom[3] = 0;
    bench.model->setEeprom(eeprom);
    bench.model->setStuckEepromByte(3);
    QVERIFY(!device->clearBootHeader());
}

void Fx2DeviceTest::shortHeaderBufferIsRefused()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    uint8_t header[7] = {0xC0};
    QVERIFY(!device->writeBootHeader(header, sizeof header));
    QVERIFY(bench.log().empty());
}

void Fx2DeviceTest::registersAndVendorBytes()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->writeRegister(3, 0x81));
    QCOMPARE(bench.model->registerValue(3), uint8_t(0x81));
    QCOMPARE(bench.controlRequests(Sim::Fx2Peripheral::RegisterWrite).at(0).setup.index,
             uint16_t(0x0381));
    QCOMPARE(device->sleptMs, uint64_t(5));
    bench.model->setRegister(1, 0x2D);
    uint8_t value = 0;
    QVERIFY(device->readRegister1(&value));
    QCOMPARE(value, uint8_t(0x2D));
    QCOMPARE(bench.controlRequests(Sim::Fx2Peripheral::RegisterRead).at(0).setup.index,
             uint16_t(0x0100));

    bench.model->stallRequests(Sim::Fx2Peripheral::RegisterWrite, 1);
    QVERIFY(!device->writeRegister(3, 0));
    QCOMPARE(device->sleptMs, uint64_t(5)); // no pause after a failed write

    bench.model->setVendorBytes(0x11, 0x22);
    QVERIFY(device->readVendorByteD5(&value));
    QCOMPARE(value, uint8_t(0x11));
    QVERIFY(device->readVendorByteE1(&value));
    QCOMPARE(value, uint8_t(0x22));
    QVERIFY(!device->notSupported14());
    QVERIFY(!device->reserved28());
}

void Fx2DeviceTest::dataPathCache()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->selectDataPath(1, 0));
    QVERIFY(device->selectDataPath(1, 0));
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::DataPath).size()), 1);
    QVERIFY(device->selectDataPath(0, 2));
    QVERIFY(device->selectDataPath(0, 2));
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::DataPath).size()), 3);

    // A failed selection forgets what was selected.
    QVERIFY(device->selectDataPath(1, 0));
    bench.model->stallRequests(Sim::Fx2Peripheral::DataPath, 1);
    QVERIFY(!device->selectDataPath(0, 1));
    QVERIFY(device->selectDataPath(1, 0));
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::DataPath).size()), 6);
}

void Fx2DeviceTest::eraseFlashRange_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<uint>("length");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<std::vector<uint32_t>>("erased");
    using V = std::vector<uint32_t>;
    QTest::newRow("one byte in block 1") << 0x10000u << 1u << true << V{1};
    QTest::newRow("three blocks") << 0u << 0x30000u << true << V{0, 1, 2};
    QTest::newRow("last block") << 63u * 0x10000u << 0x10000u << true << V{63};
    QTest::newRow("unaligned start") << 0x10001u << 1u << false << V{};
    QTest::newRow("no length") << 0x10000u << 0u << false << V{};
    QTest::newRow("past the last block") << 63u * 0x10000u << 0x20000u << false << V{};
}

void Fx2DeviceTest::eraseFlashRange()
{
    QFETCH(uint, start);
    QFETCH(uint, length);
    QFETCH(bool, ok);
    QFETCH(std::vector<uint32_t>, erased);
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->enterHardwareAccess(start));
    bench.flash->setContents(start & ~0xFFFFu, patternBytes(0x30000));
    bench.clearLog();
    QCOMPARE(device->eraseFlashRange(start, length), ok);
    QCOMPARE(bench.flash->erasedBlocks(), erased);
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::BlockErase).size()), int(erased.size()));
    for (uint32_t block : erased)
        QCOMPARE(bench.flash->contents(block * 0x10000, 0x10000),
                 std::vector<uint8_t>(0x10000, 0xFF));
    if (!erased.empty()) {
        const Sim::LogEntry first = bench.controlRequests(Sim::Fx2Peripheral::BlockErase).front();
        QCOMPARE(first.data, (std::vector<uint8_t>{uint8_t(erased[0]), 0, 0}));
    }
}

void Fx2DeviceTest::eraseThatNeverFinishesIsTriedTwice()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->enterHardwareAccess(0));
    bench.flash->setBusyPolls(-1, 1);
    QVERIFY(!device->eraseFlashBlock(2));
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::BlockErase).size()), 2);
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::ReadyByte).size()), 120);
    QCOMPARE(device->sleptMs, uint64_t(120 * 100));

    bench.clearLog();
    device->sleptMs = 0;
    device->erase = 1;
    QVERIFY(!device->beginFlashUpdate(0, 16));
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::ReadyByte).size()), 120);
    QCOMPARE(device->sleptMs, uint64_t(120 * 500));
}

void Fx2DeviceTest::writeMethods_data()
{
    QTest::addColumn<uint>("erase");
    QTest::addColumn<uint>("method");
    QTest::addColumn<uint>("length");
    QTest::addColumn<std::vector<uint32_t>>("bulkSizes");
    using V = std::vector<uint32_t>;
    QTest::newRow("paged, erase range") << 0u << 0u << 300u << V{256, 256};
    QTest::newRow("inline, wait ready") << 1u << 1u << 300u << V{259, 47};
    QTest::newRow("stream, no erase") << 2u << 2u << 40000u << V{16384, 16384, 7232};
    QTest::newRow("paged, one page") << 0u << 0u << 256u << V{256};
}

void Fx2DeviceTest::writeMethods()
{
    QFETCH(uint, erase);
    QFETCH(uint, method);
    QFETCH(uint, length);
    QFETCH(std::vector<uint32_t>, bulkSizes);
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    const uint32_t start = 0x20000;
    const Sim::Fx2BlockFlash::WriteFormat formats[] = {
        Sim::Fx2BlockFlash::Paged, Sim::Fx2BlockFlash::Inline, Sim::Fx2BlockFlash::Stream};
    bench.flash->setWriteFormat(formats[method]);
    bench.flash->setStreamStart(start);
    device->erase = erase;
    device->write = method;
    const std::vector<uint8_t> data = patternBytes(length, 7);

    QVERIFY(device->beginFlashUpdate(start, length));
    QCOMPARE(bench.model->dataPathSelections().back(), (std::array<uint8_t, 2>{1, 0}));
    QCOMPARE(bench.flash->erasedBlocks(),
             erase == 0 ? std::vector<uint32_t>{2} : std::vector<uint32_t>{});
    QVERIFY(device->writeFlashData(data.data(), length));
    QCOMPARE(device->nextWriteAddress(), start + length);
    QVERIFY(device->endFlashUpdate(false));
    QVERIFY(!bench.model->inHardwareAccess());

    std::vector<uint32_t> sizes;
    for (const auto& w : bench.bulkWrites()) {
        QCOMPARE(w.endpoint, Sim::Fx2Device::kDataOut);
        sizes.push_back(uint32_t(w.data.size()));
    }
    QCOMPARE(sizes, bulkSizes);
    QCOMPARE(bench.flash->contents(start, length), data);
    if (method == 0) {
        // The short last page goes out whole, zero-filled.
        const auto pages = bench.bulkWrites();
        const size_t tail = length % 256;
        if (tail)
            QCOMPARE(std::vector<uint8_t>(pages.back().data.begin() + long(tail),
                                          pages.back().data.end()),
                     std::vector<uint8_t>(256 - tail, 0));
        const uint32_t lastPage = start + (length - 1) / 256 * 256;
        QCOMPARE(bench.controlRequests(Sim::Fx2Peripheral::WriteAddress).back().data,
                 (std::vector<uint8_t>{uint8_t(lastPage >> 16), uint8_t(lastPage >> 8), 0}));
    }
    if (method == 1) {
        const auto chunks = bench.bulkWrites();
        QCOMPARE(std::vector<uint8_t>(chunks[1].data.begin(), chunks[1].data.begin() + 3),
                 (std::vector<uint8_t>{0x02, 0x01, 0x00}));
    }
}

void Fx2DeviceTest::writeFlashDataNeedsHardwareAccess()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    const std::vector<uint8_t> data(16, 1);
    QVERIFY(!device->writeFlashData(data.data(), 16));
    QVERIFY(bench.log().empty());
    QVERIFY(device->writeFlashStream(data.data(), 0)); // nothing to send
    QVERIFY(bench.log().empty());
}

void Fx2DeviceTest::endFlashUpdate_data()
{
    QTest::addColumn<bool>("wait");
    QTest::addColumn<int>("restartReads");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("registerReads");
    QTest::addColumn<uint>("slept");
    QTest::newRow("no wait") << false << 3 << true << 0 << 1000u;
    QTest::newRow("back after four reads") << true << 3 << true << 4 << 4 * 100u + 1000u;
    QTest::newRow("never back") << true << -1 << false << 100 << 100 * 100u + 1000u;
}

void Fx2DeviceTest::endFlashUpdate()
{
    QFETCH(bool, wait);
    QFETCH(int, restartReads);
    QFETCH(bool, ok);
    QFETCH(int, registerReads);
    QFETCH(uint, slept);
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    device->erase = 2;
    bench.model->setRestartReads(restartReads);
    QVERIFY(device->beginFlashUpdate(0, 0));
    device->sleptMs = 0;
    QCOMPARE(device->endFlashUpdate(wait), ok);
    QCOMPARE(int(bench.controlRequests(Sim::Fx2Peripheral::RegisterRead).size()), registerReads);
    QCOMPARE(device->sleptMs, uint64_t(slept));
    QVERIFY(!device->hardwareAccessActive());
}

void Fx2DeviceTest::leaveResetsHardwareTarget()
{
    Fx2Bench bench;
    TestFx2Device* device = bench.openDevice();
    QVERIFY(device->setHardwareTarget(kModeAt25));
    QVERIFY(device->enterHardwareAccess(0x40));
    QCOMPARE(bench.model->hardwareAccessMode(), int(kModeAt25));
    QCOMPARE(bench.controlRequests(Sim::Fx2Peripheral::EnterHardwareAccess).at(0).setup.index,
             uint16_t(kModeAt25));
    QVERIFY(device->leaveHardwareAccess());
    uint8_t target = 9;
    QVERIFY(device->hardwareTarget(&target));
    QCOMPARE(target, uint8_t(0));

    // The base refuses the mode for any target but 0.
    AbstractUSBDevice* plain = bench.makeDevice();
    QVERIFY(plain->AbstractUSBDevice::hardwareAccessModeValue(&target));
    plain->setHardwareTarget(1);
    QVERIFY(!plain->AbstractUSBDevice::hardwareAccessModeValue(&target));
    plain->Release();
}

QTEST_GUILESS_MAIN(Fx2DeviceTest)
#include "tst_fx2device.moc"
