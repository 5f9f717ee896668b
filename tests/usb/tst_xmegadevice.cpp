#include "xmegatestsupport.h"

#include "usb/xmega/pageiterator.h"
#include "usb/xmega/xmegausbdevice.h"

#include <QtTest>

#include <numeric>

Q_DECLARE_METATYPE(std::vector<uint32_t>)

namespace {

std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i * 7 + (i >> 8));
    return bytes;
}

struct Progress : XmegaUSBDevice::ProgressCallback
{
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    void progress(uint32_t done, uint32_t total) override { calls.emplace_back(done, total); }
};

std::vector<Sim::LogEntry> bulkWrites(const XmegaBench& bench)
{
    std::vector<Sim::LogEntry> out;
    for (const Sim::LogEntry& e : bench.log())
        if (e.kind == Sim::LogEntry::BulkOut)
            out.push_back(e);
    return out;
}

std::shared_ptr<XmegaUSBDevice> open(XmegaBench& bench)
{
    auto device = XmegaUSBDevice::create(bench.device());
    if (device)
        device->setClock(std::make_shared<ManualClock>());
    bench.clearLog();
    return device;
}

} // namespace

class TestXmegaDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void identityChecksumsAndRebootRoundTrip();
    void unansweredRequestFailsWithinItsTimeout();
    void memoryWindowSelectsPagesOnlyWhenTheyChange();
    void wholePagesTravelInPiecesThatFitTheRequest();
    void eraseDownloadAndReadBack();
    void writesWithoutEraseOnlyClearBits();
    void bulkDownloadChunking_data();
    void bulkDownloadChunking();
    void geometryWithAZeroSizeIsRefused_data();
    void geometryWithAZeroSizeIsRefused();
    void bootloaderDownload_data();
    void bootloaderDownload();
    void bootloaderBlockSizeOutOfRangeIsRefused_data();
    void bootloaderBlockSizeOutOfRangeIsRefused();
    void bootloaderImageBeyondTheBlockIndexIsRefused();
    void enteringUpdateModeLeavesAPendingOneFirst();
    void waitsForABusyUnitAreBounded();
    void pageIterator();
};

void TestXmegaDevice::identityChecksumsAndRebootRoundTrip()
{
    XmegaBench bench;
    bench.unit().setChecksums(0xCC7FF2DD, 0x01020304);
    auto device = open(bench);
    QVERIFY(device);

    uint16_t vid = 0, pid = 0;
    QVERIFY(device->getVendorId(vid));
    QVERIFY(device->getProductId(pid));
    QCOMPARE(vid, uint16_t(0x2C4A));
    QCOMPARE(pid, uint16_t(0xC3E4));
    bool bootloader = true;
    QVERIFY(device->isBootloaderMode(bootloader));
    QVERIFY(!bootloader);
    DeviceId id;
    QVERIFY(device->getUniqueId(id));
    QCOMPARE(id.bytes, bench.unit().uniqueId());
    QVERIFY(id.isValid());
    uint32_t a = 0, b = 0;
    QVERIFY(device->getChecksums(a, b));
    QCOMPARE(a, 0xCC7FF2DDu);
    QCOMPARE(b, 0x01020304u);
    // The unique id is asked of the device, everything else of the interface.
    const auto idRequests = bench.requests(Sim::XmegaUnit::Identify);
    QCOMPARE(int(idRequests.size()), 2);
    QCOMPARE(idRequests[0].requestType, uint8_t(0xC1));
    QCOMPARE(idRequests[1].requestType, uint8_t(0xC0));
    QCOMPARE(idRequests[1].length, uint16_t(16));

    Sim::DeviceId before = bench.id();
    QVERIFY(device->rebootToBootloader());
    QVERIFY(bench.waitForReenumeration(before));
    // The old object talks to a device that is gone.
    QVERIFY(!device->getChecksums(a, b));

    auto loader = open(bench);
    QVERIFY2(loader, "a unit in its boot loader opens without bulk pipes");
    QVERIFY(loader->getProductId(pid));
    QCOMPARE(pid, uint16_t(0xC386));
    QVERIFY(loader->isBootloaderMode(bootloader));
    QVERIFY(bootloader);
    DeviceId again;
    QVERIFY(loader->getUniqueId(again));
    QVERIFY(again == id);

    before = bench.id();
    QVERIFY(loader->rebootToApplication());
    QVERIFY(bench.waitForReenumeration(before));
    auto back = open(bench);
    QVERIFY(back);
    QVERIFY(back->getProductId(pid));
    QCOMPARE(pid, uint16_t(0xC3E4));
    QVERIFY(back->isBootloaderMode(bootloader));
    QVERIFY(!bootloader);
}

void TestXmegaDevice::unansweredRequestFailsWithinItsTimeout()
{
    XmegaBench bench;
    auto device = open(bench);
    QVERIFY(device);
    device->setRequestTimeout(50);
    Sim::XmegaFaults faults;
    faults.noReplyTo = Sim::XmegaUnit::Checksums;
    bench.unit().setFaults(faults);
    uint32_t a = 7, b = 8;
    QVERIFY(!device->getChecksums(a, b));
    QCOMPARE(a, 7u);
    QCOMPARE(b, 8u);
}

void TestXmegaDevice::memoryWindowSelectsPagesOnlyWhenTheyChange()
{
    XmegaBench bench;
    auto device = open(bench);
    QVERIFY(device);
    const auto data = pattern(10);
    QVERIFY(device->writeMemory(0x1FFFA, 10, data.data()));
    auto selects = bench.requests(Sim::XmegaUnit::WindowPage);
    auto writes = bench.requests(Sim::XmegaUnit::WindowWrite);
    QCOMPARE(int(selects.size()), 2);
    QCOMPARE(selects[0].value, uint16_t(1));
    QCOMPARE(selects[1].value, uint16_t(2));
    QCOMPARE(int(writes.size()), 2);
    QCOMPARE(writes[0].value, uint16_t(0xFFFA));
    QCOMPARE(writes[0].length, uint16_t(6));
    QCOMPARE(writes[1].value, uint16_t(0));
    QCOMPARE(writes[1].length, uint16_t(4));
    QCOMPARE(bench.unit().memory(0x1FFFA, 10), data);

    bench.clearLog();
    std::vector<uint8_t> back(4);
    QVERIFY(device->readMemory(0x20000, 4, back.data()));
    QVERIFY(bench.requests(Sim::XmegaUnit::WindowPage).empty());
    QCOMPARE(back, std::vector<uint8_t>(data.begin() + 6, data.end()));
    QVERIFY(!device->readMemory(0, 4, nullptr));
}

void TestXmegaDevice::wholePagesTravelInPiecesThatFitTheRequest()
{
    XmegaBench bench;
    auto device = open(bench);
    QVERIFY(device);
    const auto data = pattern(2 * 65536 + 100, 3);
    QVERIFY(device->writeMemory(0x10000, uint32_t(data.size()), data.data()));
    uint32_t sent = 0;
    for (const auto& w : bench.requests(Sim::XmegaUnit::WindowWrite)) {
        QVERIFY(w.length > 0);
        sent += w.length;
    }
    QCOMPARE(sent, uint32_t(data.size()));
    std::vector<uint8_t> back(data.size());
    QVERIFY(device->readMemory(0x10000, uint32_t(back.size()), back.data()));
    QCOMPARE(back, data);
}

void TestXmegaDevice::eraseDownloadAndReadBack()
{
    XmegaBench bench;
    Sim::XmegaUnit& unit = bench.unit();
    unit.addTarget(1, 64 * 1024, 1024, 64);
    std::vector<uint8_t> old(64 * 1024, 0x00);
    unit.setTargetBytes(1, old);
    unit.setErasePolls(4);
    unit.setBusyPolls(3);
    auto device = open(bench);
    QVERIFY(device);

    const uint32_t address = 0x2000;
    const auto image = pattern(5000, 9);
    QVERIFY(device->waitIdleAndCommand());
    QVERIFY(unit.inUpdateMode());
    QVERIFY(device->selectTarget(1));
    uint32_t erase = 0, write = 0;
    QVERIFY(device->getFlashGeometry(erase, write));
    QCOMPARE(erase, 1024u);
    QCOMPARE(write, 64u);
    const uint32_t pages = (uint32_t(image.size()) + erase - 1) / erase;
    QVERIFY(device->erasePages(address / erase, pages));
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    QVERIFY(device->waitForErase([&](uint32_t c, uint32_t s) { seen.emplace_back(c, s); }));
    QVERIFY(seen.size() >= 2);
    QCOMPARE(seen.back(), std::make_pair(pages, pages));
    Progress progress;
    QVERIFY(device->bulkDownload(address / write, uint32_t(image.size()), image.data(), &progress));
    QVERIFY(device->waitWhileBusy());
    QVERIFY(device->endUpdate());
    QVERIFY(!unit.inUpdateMode());

    const auto bytes = unit.target(1).bytes;
    QCOMPARE(std::vector<uint8_t>(bytes.begin() + address, bytes.begin() + address + 5000), image);
    // The rest of the erased pages reads erased; outside them nothing changed.
    const auto tailEnd = bytes.begin() + address + pages * erase;
    QVERIFY(
        std::all_of(bytes.begin() + address + 5000, tailEnd, [](uint8_t v) { return v == 0xFF; }));
    QVERIFY(std::all_of(bytes.begin(), bytes.begin() + address, [](uint8_t v) { return v == 0; }));
    QVERIFY(std::all_of(tailEnd, bytes.end(), [](uint8_t v) { return v == 0; }));
}

void TestXmegaDevice::writesWithoutEraseOnlyClearBits()
{
    XmegaBench bench;
    bench.unit().setTargetBytes(0, std::vector<uint8_t>(1024, 0xF0));
    auto device = open(bench);
    QVERIFY(device);
    QVERIFY(device->waitIdleAndCommand());
    const std::vector<uint8_t> data(512, 0x3C);
    QVERIFY(device->bulkDownload(0, 512, data.data()));
    const auto bytes = bench.unit().target(0).bytes;
    QCOMPARE(bytes[0], uint8_t(0x30));
    QCOMPARE(bytes[600], uint8_t(0xF0));
}

void TestXmegaDevice::bulkDownloadChunking_data()
{
    QTest::addColumn<uint32_t>("writeBlock");
    QTest::addColumn<uint32_t>("size");
    QTest::addColumn<bool>("ok");
    // Bulk writes in order; 0 is a zero-length write.
    QTest::addColumn<std::vector<uint32_t>>("writes");

    QTest::newRow("three chunks") << 64u << 70000u << true
                                  << std::vector<uint32_t>{32768, 32768, 4464, 0};
    QTest::newRow("whole packets, partial block")
        << 1024u << 33280u << true << std::vector<uint32_t>{32768, 512, 0, 0};
    QTest::newRow("one whole chunk") << 64u << 32768u << true << std::vector<uint32_t>{32768, 0};
    QTest::newRow("nothing") << 64u << 0u << true << std::vector<uint32_t>{0};
    QTest::newRow("blocks not met by packets") << 768u << 4096u << false << std::vector<uint32_t>{};
    QTest::newRow("unit above the chunk") << 40000u << 4096u << false << std::vector<uint32_t>{};
}

void TestXmegaDevice::bulkDownloadChunking()
{
    QFETCH(uint32_t, writeBlock);
    QFETCH(uint32_t, size);
    QFETCH(bool, ok);
    QFETCH(std::vector<uint32_t>, writes);

    XmegaBench bench;
    bench.unit().addTarget(0, 128 * 1024, 1024, 64);
    bench.unit().overrideGeometry(1024, writeBlock);
    auto device = open(bench);
    QVERIFY(device);
    QVERIFY(device->waitIdleAndCommand());
    bench.clearLog();
    const auto image = pattern(size + 1);
    Progress progress;
    QCOMPARE(device->bulkDownload(3, size, image.data(), &progress), ok);
    QCOMPARE(int(bench.requests(Sim::XmegaUnit::StartDownload).size()), 1);

    std::vector<uint32_t> sizes;
    for (const auto& w : bulkWrites(bench))
        sizes.push_back(uint32_t(w.data.size()));
    QCOMPARE(sizes, writes);
    if (!ok) {
        QVERIFY(progress.calls.empty());
        return;
    }
    const uint32_t count =
        uint32_t(std::count_if(writes.begin(), writes.end(), [](uint32_t n) { return n != 0; }));
    QCOMPARE(uint32_t(progress.calls.size()), count + 1);
    for (uint32_t i = 0; i <= count; ++i)
        QCOMPARE(progress.calls[i], std::make_pair(i, count));
}

void TestXmegaDevice::geometryWithAZeroSizeIsRefused_data()
{
    QTest::addColumn<uint32_t>("erase");
    QTest::addColumn<uint32_t>("write");
    QTest::addColumn<uint16_t>("packet");
    QTest::newRow("no erase page") << 0u << 64u << uint16_t(512);
    QTest::newRow("no write block") << 1024u << 0u << uint16_t(512);
    QTest::newRow("neither") << 0u << 0u << uint16_t(512);
    QTest::newRow("no packet size") << 1024u << 64u << uint16_t(0);
}

void TestXmegaDevice::geometryWithAZeroSizeIsRefused()
{
    QFETCH(uint32_t, erase);
    QFETCH(uint32_t, write);
    QFETCH(uint16_t, packet);
    Sim::XmegaUnit::Options options;
    options.packetSize = packet;
    XmegaBench bench(std::make_shared<Sim::XmegaUnit>(options));
    bench.unit().overrideGeometry(erase, write);
    auto device = open(bench);
    QVERIFY(device);
    uint32_t e = 11, w = 12;
    QCOMPARE(device->getFlashGeometry(e, w), erase && write);
    if (!erase || !write) {
        QCOMPARE(e, 11u);
        QCOMPARE(w, 12u);
    }
    QVERIFY(device->waitIdleAndCommand());
    const auto image = pattern(4096);
    QVERIFY(!device->bulkDownload(0, 4096, image.data()));
    QVERIFY(bulkWrites(bench).empty());
}

void TestXmegaDevice::bootloaderDownload_data()
{
    QTest::addColumn<uint32_t>("blockSize");
    QTest::addColumn<uint32_t>("size");
    QTest::newRow("1") << 1u << 5000u;
    QTest::newRow("64") << 64u << 4096u;
    QTest::newRow("256") << 256u << 5000u;
    QTest::newRow("1000") << 1000u << 4500u;
    QTest::newRow("2047") << 2047u << 5000u;
    QTest::newRow("2048") << 2048u << 2048u;
}

void TestXmegaDevice::bootloaderDownload()
{
    QFETCH(uint32_t, blockSize);
    QFETCH(uint32_t, size);
    XmegaBench bench(makeUnit(0xC3E4, true));
    bench.unit().setBootloaderBlockSize(blockSize);
    auto device = open(bench);
    QVERIFY(device);
    const auto image = pattern(size, 5);
    QVERIFY(device->downloadFirmware(size, image.data()));

    const uint32_t perTransfer = 2048 / blockSize;
    const auto blocks = bench.requests(Sim::XmegaUnit::BootDownloadBlock);
    const uint32_t transfers = (size + perTransfer * blockSize - 1) / (perTransfer * blockSize);
    QCOMPARE(uint32_t(blocks.size()), transfers + 1);
    for (uint32_t i = 0; i < transfers; ++i) {
        QCOMPARE(uint32_t(blocks[i].value), i * perTransfer);
        QVERIFY(blocks[i].length <= 2048);
    }
    QCOMPARE(blocks.back().value, uint16_t(0));
    QCOMPARE(blocks.back().length, uint16_t(0));
    QVERIFY(bench.unit().bootloaderDownloadDone());
    QCOMPARE(bench.unit().bootloaderImage(), image);
}

void TestXmegaDevice::bootloaderBlockSizeOutOfRangeIsRefused_data()
{
    QTest::addColumn<uint32_t>("blockSize");
    QTest::newRow("0") << 0u;
    QTest::newRow("2049") << 2049u;
    QTest::newRow("huge") << 0x80000000u;
}

void TestXmegaDevice::bootloaderBlockSizeOutOfRangeIsRefused()
{
    QFETCH(uint32_t, blockSize);
    XmegaBench bench(makeUnit(0xC3E4, true));
    bench.unit().setBootloaderBlockSize(blockSize);
    auto device = open(bench);
    QVERIFY(device);
    const auto image = pattern(3000);
    QVERIFY(!device->downloadFirmware(3000, image.data()));
    QVERIFY(bench.requests(Sim::XmegaUnit::BootStartDownload).empty());
    QVERIFY(bench.requests(Sim::XmegaUnit::BootDownloadBlock).empty());
}

void TestXmegaDevice::bootloaderImageBeyondTheBlockIndexIsRefused()
{
    XmegaBench bench(makeUnit(0xC3E4, true));
    bench.unit().setBootloaderBlockSize(1);
    auto device = open(bench);
    QVERIFY(device);
    const auto image = pattern(70000);
    QVERIFY(!device->downloadFirmware(70000, image.data()));
    for (const auto& block : bench.requests(Sim::XmegaUnit::BootDownloadBlock))
        QVERIFY(block.length > 0);
    QVERIFY(!bench.unit().bootloaderDownloadDone());
}

void TestXmegaDevice::enteringUpdateModeLeavesAPendingOneFirst()
{
    XmegaBench bench;
    auto device = open(bench);
    QVERIFY(device);
    QVERIFY(device->waitIdleAndCommand());
    QCOMPARE(int(bench.requests(Sim::XmegaUnit::LeaveUpdateMode).size()), 0);
    bench.clearLog();
    QVERIFY(device->waitIdleAndCommand());
    std::vector<uint8_t> order;
    for (const auto& e : bench.log())
        order.push_back(e.setup.request);
    QCOMPARE(order, (std::vector<uint8_t>{0x30, 0x32, 0x30, 0x31}));
}

void TestXmegaDevice::waitsForABusyUnitAreBounded()
{
    XmegaBench bench;
    Sim::XmegaFaults faults;
    faults.stuckInUpdateMode = true;
    bench.unit().setFaults(faults);
    auto device = XmegaUSBDevice::create(bench.device());
    QVERIFY(device);
    auto clock = std::make_shared<ManualClock>();
    device->setClock(clock);
    device->setBusyLimit(2000);

    QVERIFY(device->waitIdleAndCommand());
    QVERIFY(!device->waitIdleAndCommand());
    QVERIFY(clock->sleptMs() >= 2000);
    QVERIFY(clock->sleeps() > 1);

    const uint64_t before = clock->sleptMs();
    bench.unit().stayBusy(1000000);
    QVERIFY(!device->waitWhileBusy());
    QVERIFY(clock->sleptMs() - before >= 2000);

    bench.unit().setErasePolls(1000000);
    QVERIFY(device->erasePages(0, 4));
    QVERIFY(!device->waitForErase());

    faults.eraseError = true;
    bench.unit().setFaults(faults);
    bench.unit().setErasePolls(3);
    QVERIFY(device->erasePages(0, 4));
    uint16_t busy = 1;
    bool flag = false;
    uint32_t span = 0, current = 1;
    QVERIFY(device->getEraseStatus(busy, flag, span, current));
    QVERIFY(flag);
    QCOMPARE(span, 4u);
    QVERIFY(!device->waitForErase());
}

void TestXmegaDevice::pageIterator()
{
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> pieces;
    for (PageIterator it(0x1FFFA, 10, 65536); it.hasMore(); it.next())
        pieces.emplace_back(it.page(), it.offset(), it.chunk());
    QCOMPARE(pieces,
             (std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>{{1, 0xFFFA, 6}, {2, 0, 4}}));
    QVERIFY(!PageIterator(5, 0, 64).hasMore());
}

QTEST_GUILESS_MAIN(TestXmegaDevice)
#include "tst_xmegadevice.moc"
