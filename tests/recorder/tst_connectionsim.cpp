#include "simunits.h"

#include "plugins/recorder/kestrelusbconnection.h"

#include <QtTest>

using namespace CVN::DiskRecorder;

class ConnectionSimTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { KestrelUSBConnection::resetFailureCount(); }
    void cleanup() { Sim::UsbBus::instance().reset(); }

    void generations_data();
    void savedSettingsReachTheUnit_data() { generations_data(); }
    void savedSettingsReachTheUnit();
    // The streaming generation never reports that it records, so it has no busy case.
    void busyUnitKeepsItsSettings_data();
    void busyUnitKeepsItsSettings();
};

void ConnectionSimTest::generations_data()
{
    QTest::addColumn<QString>("generation");
    QTest::newRow("fx2") << "fx2";
    QTest::newRow("xmega mailbox") << "mailbox";
    QTest::newRow("streaming") << "streaming";
}

void ConnectionSimTest::busyUnitKeepsItsSettings_data()
{
    QTest::addColumn<QString>("generation");
    QTest::newRow("fx2") << "fx2";
    QTest::newRow("xmega mailbox") << "mailbox";
}

void ConnectionSimTest::savedSettingsReachTheUnit()
{
    QFETCH(QString, generation);
    auto unit = makeSimUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    auto clock = std::make_shared<ManualClock>();
    KestrelUSBConnection connection(unit->device(), 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(clock);
    QSignalSpy opened(&connection, &KestrelConnection::connectionOpened);
    QSignalSpy flushed(&connection, &KestrelConnection::settingsFlushed);
    QSignalSpy lost(&connection, &KestrelConnection::connectionLost);

    connection.pollConnection();
    QVERIFY(connection.isOpen());
    QCOMPARE(opened.count(), 1);

    KestrelSettings wanted = connection.settings();
    wanted.trigger = wanted.trigger == KestrelSettings::kTriggerSdi
                         ? KestrelSettings::kTriggerTimecodeRun
                         : KestrelSettings::kTriggerSdi;
    connection.setSettings(wanted);
    QCOMPARE(lost.count(), 0);
    QCOMPARE(flushed.count(), 1);
    QVERIFY(!connection.hasSettingsError());
    // The unit answered at the first look: no pause.
    QCOMPARE(clock->sleeps(), 0);

    KestrelSettings onUnit;
    QVERIFY(unit->device()->readSettings(onUnit));
    QCOMPARE(onUnit.trigger, wanted.trigger);
}

void ConnectionSimTest::busyUnitKeepsItsSettings()
{
    QFETCH(QString, generation);
    auto unit = makeSimUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    QVERIFY(unit->setBusy(true));
    KestrelSettings before;
    QVERIFY(unit->device()->readSettings(before));
    KestrelUSBConnection connection(unit->device(), 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(std::make_shared<ManualClock>());
    QSignalSpy busy(&connection, &KestrelConnection::deviceBusy);
    QSignalSpy flushed(&connection, &KestrelConnection::settingsFlushed);

    KestrelSettings wanted = before;
    wanted.trigger = before.trigger == KestrelSettings::kTriggerSdi
                         ? KestrelSettings::kTriggerTimecodeRun
                         : KestrelSettings::kTriggerSdi;
    connection.setSettings(wanted);
    QCOMPARE(busy.count(), 1);
    QCOMPARE(flushed.count(), 0);
    QVERIFY(connection.hasSettingsError());
    KestrelSettings after;
    QVERIFY(unit->device()->readSettings(after));
    QCOMPARE(after.trigger, before.trigger);

    // Once the unit stops recording, the kept settings go out.
    unit->setBusy(false);
    connection.retryWrite();
    QCOMPARE(flushed.count(), 1);
    QVERIFY(unit->device()->readSettings(after));
    QCOMPARE(after.trigger, wanted.trigger);
}

QTEST_MAIN(ConnectionSimTest)
#include "tst_connectionsim.moc"
