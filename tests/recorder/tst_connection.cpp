#include "blockbytes.h"
#include "fakekestrel.h"
#include "tests/usb/simdevicefixture.h"

#include "plugins/recorder/kestrelusbconnection.h"
#include "usb/rpc/vornosrpcexception.h"

#include <QtTest>

#include <memory>

namespace {

constexpr quint32 kCodec = 0xC3010001;
constexpr quint32 kContainer = 0xC3010002;
constexpr quint32 kTimecode = 0xC3010004;
constexpr quint32 kTrigger = 0xC3010005;

// A legacy block: codec "apcn" in QuickTime (legacy row 2), timecode output on, SDI trigger.
QByteArray legacyBlock()
{
    const QByteArray body = beWords({12, kCodec}) + QByteArray("apcn", 4) +
                            beWords({12, kContainer, 1}) + beWords({12, kTimecode, 0x01000000}) +
                            beWords({12, kTrigger, 1});
    return beWords({quint32(12 + body.size()), 0x000C3C01, 4}) + body;
}

// A unit that speaks a stream protocol this program does not know.
class IncompatibleKestrel : public FakeKestrel
{
public:
    bool isConnected() override
    {
        FakeKestrel::isConnected();
        throw VornOSRPC::IncompatiableProtocolException();
    }
};

struct Devices
{
    ~Devices()
    {
        for (auto* device : held)
            device->release();
    }
    template<typename T = FakeKestrel> T* make()
    {
        auto* device = new T;
        held.push_back(device);
        return device;
    }
    std::vector<FakeKestrel*> held;
};

} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { KestrelUSBConnection::resetFailureCount(); }

    void sixteenthFailedPollReportsOverAllConnections();
    void incompatibleUnitIsReportedInTheSamePoll();
    void connectedButOldFirmwareStopsAtOnce();
    void openingSetsClockAndReadsSettings();
    void openConnectionFollowsChangesOnTheUnit();
    void setSettingsWritesOnlyChangesOrAfterAnError();
    void writeOutcomes_data();
    void writeOutcomes();
    void unitThatNeverAnswersIsStillWrittenOnce();
    void connectionHoldsOneReference();
};

void ConnectionTest::sixteenthFailedPollReportsOverAllConnections()
{
    Devices devices;
    auto* first = devices.make();
    auto* second = devices.make();
    first->connected = false;
    second->connected = false;
    KestrelUSBConnection a(first, 1, nullptr);
    KestrelUSBConnection b(second, 1, nullptr);
    a.stopPolling();
    b.stopPolling();
    a.startPolling();
    QSignalSpy firmwareA(&a, &KestrelConnection::requiresFirmwareUpdate);
    QSignalSpy firmwareB(&b, &KestrelConnection::requiresFirmwareUpdate);

    // Failed polls of two units add up.
    for (int i = 0; i < 14; ++i)
        (i % 2 ? a : b).pollConnection();
    a.pollConnection();
    QCOMPARE(KestrelUSBConnection::failureCount(), 15);
    QCOMPARE(firmwareA.count() + firmwareB.count(), 0);
    QVERIFY(a.isPolling());

    a.pollConnection();
    QCOMPARE(firmwareA.count(), 1);
    QCOMPARE(firmwareA.first().first().toBool(), false);
    QVERIFY(!a.isPolling());
    QCOMPARE(KestrelUSBConnection::failureCount(), 0);
    QVERIFY(!a.isOpen());
}

void ConnectionTest::incompatibleUnitIsReportedInTheSamePoll()
{
    Devices devices;
    auto* unit = devices.make<IncompatibleKestrel>();
    KestrelUSBConnection connection(unit, 1, nullptr);
    QSignalSpy firmware(&connection, &KestrelConnection::requiresFirmwareUpdate);
    connection.pollConnection();
    QCOMPARE(firmware.count(), 1);
    QCOMPARE(firmware.first().first().toBool(), false);
    QVERIFY(!connection.isPolling());
}

void ConnectionTest::connectedButOldFirmwareStopsAtOnce()
{
    Devices devices;
    auto* unit = devices.make();
    unit->firmwareCurrent = false;
    KestrelUSBConnection connection(unit, 1, nullptr);
    QSignalSpy firmware(&connection, &KestrelConnection::requiresFirmwareUpdate);
    QSignalSpy opened(&connection, &KestrelConnection::connectionOpened);
    connection.pollConnection();
    QCOMPARE(firmware.count(), 1);
    QCOMPARE(firmware.first().first().toBool(), false);
    QVERIFY(!connection.isPolling());
    QCOMPARE(opened.count(), 0);
    QCOMPARE(unit->callCount("setClock"), 0);
}

void ConnectionTest::openingSetsClockAndReadsSettings()
{
    Devices devices;
    auto* unit = devices.make();
    unit->settingsBlock = exact(legacyBlock());
    KestrelUSBConnection connection(unit, 1, nullptr);
    QSignalSpy opened(&connection, &KestrelConnection::connectionOpened);
    QSignalSpy changed(&connection, &KestrelConnection::settingsChanged);

    const auto before = quint32(QDateTime::currentSecsSinceEpoch());
    connection.pollConnection();
    const auto after = quint32(QDateTime::currentSecsSinceEpoch());

    QVERIFY(connection.isOpen());
    QCOMPARE(opened.count(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(unit->clockTimes.size(), std::size_t(1));
    QVERIFY(unit->clockTimes[0] >= before && unit->clockTimes[0] <= after);
    QCOMPARE(connection.settings().legacyCodec, 2u);
    QVERIFY(connection.settings().timecodeOutput);
    QCOMPARE(connection.settings().trigger, 1u);
    // The open tick also asks whether the unit's settings changed.
    QCOMPARE(unit->callCount("settingsChanged"), 1);
}

void ConnectionTest::openConnectionFollowsChangesOnTheUnit()
{
    Devices devices;
    auto* unit = devices.make();
    unit->settingsBlock = exact(legacyBlock());
    KestrelUSBConnection connection(unit, 1, nullptr);
    connection.pollConnection();
    QSignalSpy changed(&connection, &KestrelConnection::settingsChanged);

    // Changed, but to the same record: nothing to announce.
    unit->changed.then(true);
    connection.pollConnection();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(unit->callCount("readSettingsBlock"), 2);

    // A failed read changes nothing.
    unit->settingsBlock.clear();
    unit->changed.then(true);
    connection.pollConnection();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(connection.settings().legacyCodec, 2u);

    QByteArray block = legacyBlock();
    block.replace(QByteArray("apcn", 4), QByteArray("apch", 4));
    unit->settingsBlock = exact(block);
    unit->changed.then(true);
    connection.pollConnection();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(connection.settings().legacyCodec, 1u);
    // No further open: the clock was set once.
    QCOMPARE(unit->callCount("setClock"), 1);
}

void ConnectionTest::setSettingsWritesOnlyChangesOrAfterAnError()
{
    Devices devices;
    auto* unit = devices.make();
    KestrelUSBConnection connection(unit, 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(std::make_shared<ManualClock>());
    QSignalSpy flushed(&connection, &KestrelConnection::settingsFlushed);

    // Equal to the all-zero cache and no error: nothing happens.
    connection.setSettings(KestrelSettings());
    QCOMPARE(unit->callCount("isBusy"), 0);
    QCOMPARE(flushed.count(), 0);

    KestrelSettings wanted;
    wanted.legacyCodec = 1;
    unit->blockWriteResult.then(false);
    connection.setSettings(wanted);
    QVERIFY(connection.hasSettingsError());
    QCOMPARE(flushed.count(), 0);

    // The same record again: written again because the last write failed.
    connection.setSettings(wanted);
    QVERIFY(!connection.hasSettingsError());
    QCOMPARE(flushed.count(), 1);
    QCOMPARE(unit->writtenBlocks.size(), std::size_t(2));

    connection.retryWrite();
    QCOMPARE(flushed.count(), 2);
    QCOMPARE(unit->writtenBlocks.size(), std::size_t(3));
}

void ConnectionTest::writeOutcomes_data()
{
    QTest::addColumn<quint16>("productId");
    QTest::addColumn<int>("busy"); // -1: the query fails
    QTest::addColumn<bool>("writeOk");
    QTest::addColumn<quint32>("legacyCodec");
    QTest::addColumn<QString>("signal"); // the one signal expected, or empty
    QTest::addColumn<bool>("written");

    QTest::newRow("written") << quint16(0xC3A6) << 0 << true << 1u << "settingsFlushed" << true;
    QTest::newRow("busy") << quint16(0xC3A6) << 1 << true << 1u << "deviceBusy" << false;
    QTest::newRow("busy query fails")
        << quint16(0xC3A6) << -1 << true << 1u << "connectionLost" << false;
    QTest::newRow("write refused")
        << quint16(0xC3A6) << 0 << false << 1u << "connectionLost" << true;
    // AVdh is only recorded by product 0xC3A6.
    QTest::newRow("AVdh elsewhere")
        << quint16(0xC34C) << 0 << true << 7u << "requiresFirmwareUpdate" << false;
    QTest::newRow("AVdh on 0xC3A6")
        << quint16(0xC3A6) << 0 << true << 7u << "settingsFlushed" << true;
}

void ConnectionTest::writeOutcomes()
{
    QFETCH(quint16, productId);
    QFETCH(int, busy);
    QFETCH(bool, writeOk);
    QFETCH(quint32, legacyCodec);
    QFETCH(QString, signal);
    QFETCH(bool, written);

    Devices devices;
    auto* unit = devices.make();
    unit->productId = productId;
    unit->capabilities = 0x31;
    unit->busy = busy < 0 ? std::optional<bool>() : std::optional<bool>(busy == 1);
    unit->blockWriteResult = writeOk;
    KestrelUSBConnection connection(unit, 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(std::make_shared<ManualClock>());

    const QStringList names{"deviceBusy", "requiresFirmwareUpdate", "settingsFlushed",
                            "connectionLost"};
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    spies.push_back(std::make_unique<QSignalSpy>(&connection, &KestrelConnection::deviceBusy));
    spies.push_back(
        std::make_unique<QSignalSpy>(&connection, &KestrelConnection::requiresFirmwareUpdate));
    spies.push_back(std::make_unique<QSignalSpy>(&connection, &KestrelConnection::settingsFlushed));
    spies.push_back(std::make_unique<QSignalSpy>(&connection, &KestrelConnection::connectionLost));

    KestrelSettings wanted;
    wanted.legacyCodec = legacyCodec;
    connection.setSettings(wanted);

    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(qMakePair(names[i], int(spies[i]->count())),
                 qMakePair(names[i], names[i] == signal ? 1 : 0));
    if (signal == "requiresFirmwareUpdate")
        QCOMPARE(spies[1]->first().first().toBool(), true);
    QCOMPARE(unit->callCount("writeSettingsBlock"), written ? 1 : 0);
    QCOMPARE(connection.hasSettingsError(), signal != "settingsFlushed");
    // The refused settings stay in the cache for the write after an update.
    QCOMPARE(connection.settings().legacyCodec, legacyCodec);
}

void ConnectionTest::unitThatNeverAnswersIsStillWrittenOnce()
{
    Devices devices;
    auto* unit = devices.make();
    unit->connected = false;
    auto clock = std::make_shared<ManualClock>();
    KestrelUSBConnection connection(unit, 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(clock);
    KestrelSettings wanted;
    wanted.legacyCodec = 3;
    QVERIFY(connection.writeSettings(wanted));
    QCOMPARE(unit->callCount("isConnected"), KestrelUSBConnection::kReadyWaitLooks);
    QCOMPARE(clock->sleptMs(), quint64(KestrelUSBConnection::kReadyWaitLooks - 1) *
                                   KestrelUSBConnection::kReadyWaitIntervalMs);
    QCOMPARE(unit->callCount("writeSettingsBlock"), 1);

    // A unit that answers at the third look is written without further waiting.
    unit->connected = false;
    unit->connected.then(false);
    unit->connected.then(false);
    unit->connected.then(true);
    const auto looksBefore = unit->callCount("isConnected");
    QVERIFY(connection.writeSettings(wanted));
    QCOMPARE(unit->callCount("isConnected") - looksBefore, 3);
}

void ConnectionTest::connectionHoldsOneReference()
{
    std::atomic<int> destroyed{0};
    auto* unit = new FakeKestrel;
    unit->destroyed = &destroyed;
    {
        KestrelUSBConnection connection(unit, 1, nullptr);
        unit->release();
        QCOMPARE(destroyed.load(), 0);
        QVERIFY(connection.isLegacy());
    }
    QCOMPARE(destroyed.load(), 1);
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
