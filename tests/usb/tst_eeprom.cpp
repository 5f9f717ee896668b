#include "fx2fixture.h"

#include "usb/fx2/atmelat25hardwareaccess.h"

#include <QtTest>

using namespace CVN::USB;

class EepromTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void imageWrittenAndReadBack();
    void shortWriteIsPaddedToWholeChunks();
    void beginAndEndAccess();
    void waitReady_data();
    void waitReady();
    void readLimits();
    void writePastSixteenBitAddressesIsRefused();
    void failedChunkFailsTheWrite();

private:
    std::unique_ptr<Fx2Bench> m_bench;
    TestFx2Device* m_device = nullptr;
    std::unique_ptr<AtmelAT25HardwareAccess> m_eeprom;
};

void EepromTest::init()
{
    m_bench = std::make_unique<Fx2Bench>();
    m_device = m_bench->openDevice();
    QVERIFY(m_device);
    m_device->setHardwareTarget(kModeAt25);
    m_eeprom = std::make_unique<AtmelAT25HardwareAccess>(m_device);
}

void EepromTest::cleanup()
{
    m_eeprom.reset();
    m_bench.reset();
}

void EepromTest::imageWrittenAndReadBack()
{
    const std::vector<uint8_t> image = patternBytes(3000, 11);
    QCOMPARE(m_eeprom->pageSize(), 32u);
    QVERIFY(m_eeprom->beginAccess());
    // Pieces that are whole chunks, as an updater sends them.
    for (size_t at = 0; at < image.size(); at += 512) {
        const uint32_t n = uint32_t(std::min<size_t>(512, image.size() - at));
        QVERIFY(m_eeprom->write(image.data() + at, n));
    }
    QCOMPARE(m_eeprom->writeAddress(), 3000u);

    std::vector<uint8_t> readBack(image.size());
    for (size_t at = 0; at < readBack.size(); at += 255) {
        const uint32_t n = uint32_t(std::min<size_t>(255, readBack.size() - at));
        QVERIFY(m_eeprom->read(uint32_t(at), readBack.data() + at, n));
    }
    QVERIFY(m_eeprom->endAccess());
    QCOMPARE(readBack, image);
    const auto reads = m_bench->controlRequests(Sim::Fx2Peripheral::SpiRead);
    QCOMPARE(reads.at(1).setup.index, uint16_t(255));
    QCOMPARE(reads.at(1).setup.length, uint16_t(255));
}

void EepromTest::shortWriteIsPaddedToWholeChunks()
{
    QVERIFY(m_eeprom->beginAccess());
    const std::vector<uint8_t> data = patternBytes(40, 5);
    QVERIFY(m_eeprom->write(data.data(), 40));
    QCOMPARE(m_eeprom->writeAddress(), 40u);
    QCOMPARE(m_bench->at25->writeAddresses(), (std::vector<uint32_t>{0, 32}));
    const auto chunks = m_bench->bulkWrites();
    QCOMPARE(int(chunks.size()), 2);
    QCOMPARE(chunks[1].data.size(), size_t(32));
    QCOMPARE(std::vector<uint8_t>(chunks[1].data.begin(), chunks[1].data.begin() + 8),
             std::vector<uint8_t>(data.begin() + 32, data.end()));
    QCOMPARE(std::vector<uint8_t>(chunks[1].data.begin() + 8, chunks[1].data.end()),
             std::vector<uint8_t>(24, 0));
    const auto addresses = m_bench->controlRequests(Sim::Fx2Peripheral::WriteAddress);
    QCOMPARE(addresses.at(1).data, (std::vector<uint8_t>{0x00, 0x20}));
    // Each chunk waits for the ready byte, 1 ms before each poll.
    QVERIFY(m_bench->controlRequests(Sim::Fx2Peripheral::ReadyByte).size() >= 2);
}

void EepromTest::beginAndEndAccess()
{
    QVERIFY(m_eeprom->beginAccess());
    QVERIFY(m_eeprom->isOpen());
    QCOMPARE(m_bench->model->hardwareAccessMode(), int(kModeAt25));
    QCOMPARE(m_device->sleptMs, uint64_t(500));
    QVERIFY(m_eeprom->endAccess());
    QVERIFY(!m_eeprom->isOpen());
    QVERIFY(!m_bench->model->inHardwareAccess());

    m_device->setHardwareTarget(kModeAt25);
    m_bench->model->stallRequests(Sim::Fx2Peripheral::EnterHardwareAccess, 1);
    QVERIFY(!m_eeprom->beginAccess());
    QVERIFY(!m_eeprom->isOpen());
}

void EepromTest::waitReady_data()
{
    QTest::addColumn<uint>("tries");
    QTest::addColumn<int>("busy");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("polls");
    QTest::newRow("no tries") << 0u << 0 << false << false << 0;
    QTest::newRow("ready at once") << 5u << 0 << false << true << 1;
    QTest::newRow("ready on the third poll") << 5u << 2 << false << true << 3;
    QTest::newRow("never ready") << 5u << -1 << false << false << 5;
    QTest::newRow("poll fails") << 5u << 0 << true << false << 1;
}

void EepromTest::waitReady()
{
    QFETCH(uint, tries);
    QFETCH(int, busy);
    QFETCH(bool, stall);
    QFETCH(bool, ok);
    QFETCH(int, polls);
    QVERIFY(m_eeprom->beginAccess());
    // A page write on the chip's side leaves it busy for `busy` polls.
    m_bench->at25->setBusyPolls(busy);
    m_bench->at25->bulkOut(std::vector<uint8_t>(32, 0xAB));
    m_bench->clearLog();
    if (stall)
        m_bench->model->stallRequests(Sim::Fx2Peripheral::ReadyByte, 1);
    m_device->sleptMs = 0;
    QCOMPARE(m_eeprom->waitReady(tries, 7), ok);
    QCOMPARE(int(m_bench->log().size()), polls);
    QCOMPARE(m_device->sleptMs, uint64_t(7 * polls));
}

void EepromTest::readLimits()
{
    QVERIFY(m_eeprom->beginAccess());
    std::vector<uint8_t> buffer(256);
    QVERIFY(!m_eeprom->read(0, buffer.data(), 256));
    QVERIFY(!m_eeprom->read(0, buffer.data(), 0));
    QVERIFY(!m_eeprom->read(0, nullptr, 4));
    QVERIFY(m_bench->controlRequests(Sim::Fx2Peripheral::SpiRead).empty());
    QVERIFY(m_eeprom->read(0x7F00, buffer.data(), 255));
    const auto reads = m_bench->controlRequests(Sim::Fx2Peripheral::SpiRead);
    QCOMPARE(reads.at(0).setup.value, uint16_t(0));
    QCOMPARE(reads.at(0).setup.index, uint16_t(0x7F00));
}

void EepromTest::writePastSixteenBitAddressesIsRefused()
{
    QVERIFY(m_eeprom->beginAccess());
    m_bench->clearLog();
    // A failed write still moves the write address on.
    QVERIFY(!m_eeprom->write(nullptr, 0xFFF0));
    QCOMPARE(m_eeprom->writeAddress(), 0xFFF0u);
    const std::vector<uint8_t> more(64, 0x66);
    QVERIFY(!m_eeprom->write(more.data(), 64)); // would wrap past 0xFFFF onto address 0
    QVERIFY(m_bench->log().empty());
}

void EepromTest::failedChunkFailsTheWrite()
{
    QVERIFY(m_eeprom->beginAccess());
    m_bench->at25->setBusyPolls(-1);
    const std::vector<uint8_t> data(64, 1);
    QVERIFY(!m_eeprom->write(data.data(), 64));
    QCOMPARE(int(m_bench->bulkWrites().size()), 1); // stopped after the first chunk
    QCOMPARE(int(m_bench->controlRequests(Sim::Fx2Peripheral::ReadyByte).size()), 20);
}

QTEST_GUILESS_MAIN(EepromTest)
#include "tst_eeprom.moc"
