#include "deckwindow.h"
#include "fakedeckdevice.h"

#include <QtTest>

// The USB connection's polls and the answers a visible deck controller gives the gallery.
class TestConnection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void silentUnitFailsAfterTenPolls();
    void answeringUnitConnectsOnFirstPoll_data();
    void answeringUnitConnectsOnFirstPoll();
    void lateTimerDoesNothingOnceConnected();
    void reconnectKeepsTheAttemptsLeft();
    void sameStatusEmitsNothing();
    void statusChangesReachTheFamily();
    void applySettings();
    void displayNameAndUpdateNeed_data();
    void displayNameAndUpdateNeed();
    void connectionIcons();
};

void TestConnection::initTestCase()
{
    qRegisterMetaType<VisibleDevice*>();
    qRegisterMetaType<VisibleDeckController*>();
}

void TestConnection::silentUnitFailsAfterTenPolls()
{
    FakeVisibleDeckController device;
    device.fake->applicationState = 0;
    device.connect();
    DeckControllerUSBConnection* connection = device.usbConnection();
    QCOMPARE(connection->status(), 1u);
    QSignalSpy changed(connection, &DeckControllerConnection::connectionStatusChanged);
    QTRY_COMPARE_WITH_TIMEOUT(connection->status(), 4u, 20000);
    QCOMPARE(device.fake->applicationStateCalls, 10);
    QCOMPARE(device.fake->recoveryCalls, 10);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!device.isConnected());
    // Nothing polls after the last attempt.
    QTest::qWait(500);
    QCOMPARE(device.fake->applicationStateCalls, 10);
}

void TestConnection::answeringUnitConnectsOnFirstPoll_data()
{
    QTest::addColumn<int>("applicationState");
    QTest::addColumn<bool>("recovery");
    QTest::addColumn<int>("recoveryCalls");
    QTest::newRow("application answers") << 3 << false << 0;
    QTest::newRow("unit in recovery") << 0 << true << 1;
}

void TestConnection::answeringUnitConnectsOnFirstPoll()
{
    QFETCH(int, applicationState);
    QFETCH(bool, recovery);
    QFETCH(int, recoveryCalls);
    FakeVisibleDeckController device;
    device.fake->applicationState = uint8_t(applicationState);
    device.fake->recovery = recovery;
    device.connect();
    QTRY_COMPARE(device.connection()->status(), 2u);
    QCOMPARE(device.fake->applicationStateCalls, 1);
    QCOMPARE(device.fake->recoveryCalls, recoveryCalls);
    QVERIFY(device.isConnected());
}

void TestConnection::lateTimerDoesNothingOnceConnected()
{
    FakeVisibleDeckController device;
    device.connect();
    QTRY_COMPARE(device.connection()->status(), 2u);
    QMetaObject::invokeMethod(device.usbConnection(), "onTimeout");
    QCOMPARE(device.fake->applicationStateCalls, 1);
    QCOMPARE(device.connection()->status(), 2u);
}

void TestConnection::reconnectKeepsTheAttemptsLeft()
{
    FakeVisibleDeckController device;
    device.fake->applicationState = 0;
    device.connect();
    DeckControllerUSBConnection* connection = device.usbConnection();
    // Three failed polls, then the unit answers.
    QTRY_COMPARE_WITH_TIMEOUT(device.fake->applicationStateCalls, 3, 10000);
    device.fake->applicationState = 3;
    QTRY_COMPARE(connection->status(), 2u);
    QCOMPARE(device.fake->applicationStateCalls, 4);
    QCOMPARE(connection->attemptsLeft(), 7);

    device.fake->applicationState = 0;
    device.fake->applicationStateCalls = 0;
    connection->reconnect();
    QCOMPARE(connection->status(), 1u);
    QTRY_COMPARE_WITH_TIMEOUT(connection->status(), 4u, 20000);
    QCOMPARE(device.fake->applicationStateCalls, 7);

    // After a failure one more failed poll fails again.
    device.fake->applicationStateCalls = 0;
    connection->reconnect();
    QTRY_COMPARE(connection->status(), 4u);
    QCOMPARE(device.fake->applicationStateCalls, 1);
}

void TestConnection::sameStatusEmitsNothing()
{
    FakeVisibleDeckController device;
    device.connect();
    QTRY_COMPARE(device.connection()->status(), 2u);
    QSignalSpy changed(device.connection(), &DeckControllerConnection::connectionStatusChanged);
    device.connection()->setStatus(2);
    QCOMPARE(changed.count(), 0);
    device.connection()->setStatus(4);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<VisibleDeckController*>(), &device);
}

void TestConnection::statusChangesReachTheFamily()
{
    Family family(nullptr);
    FakeVisibleDeckController device(&family);
    QSignalSpy info(&family, &Family::deviceInfoChanged);
    device.connect();
    QTRY_COMPARE(device.connection()->status(), 2u);
    // Connecting, then connected.
    QCOMPARE(info.count(), 2);
    QCOMPARE(info.at(1).at(0).value<VisibleDevice*>(), static_cast<VisibleDevice*>(&device));
    device.connection()->applySettings();
    QCOMPARE(info.count(), 3);
    QCOMPARE(device.fake->flushes, 1);
}

void TestConnection::applySettings()
{
    FakeVisibleDeckController device(nullptr, false);
    device.connect();
    QSignalSpy info(device.connection(), &DeckControllerConnection::deviceInfoChanged);
    device.connection()->applySettings();
    QCOMPARE(info.count(), 0);
    // No device: every poll fails.
    QTRY_COMPARE_WITH_TIMEOUT(device.connection()->status(), 4u, 20000);
}

void TestConnection::displayNameAndUpdateNeed_data()
{
    QTest::addColumn<bool>("answers");
    QTest::addColumn<int>("applicationState");
    QTest::addColumn<bool>("recovery");
    QTest::addColumn<bool>("current");
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("needsUpdate");

    QTest::newRow("running, current") << true << 3 << false << true << true << "Alder"
                                      << "Version 7.1" << false;
    QTest::newRow("running, old") << true << 3 << false << false << true << "Alder"
                                  << "Version 7.1" << true;
    QTest::newRow("running, incompatible") << true << 3 << false << false << false << "Alder"
                                           << "Version 7.1" << false;
    QTest::newRow("application not running")
        << true << 0 << false << false << true << "Kestrel Alder Control" << QString() << false;
    QTest::newRow("recovery, name unreadable")
        << true << 0 << true << false << true << "Kestrel Alder Control (Recovery)" << QString()
        << true;
    QTest::newRow("recovery, name readable")
        << true << 3 << true << false << false << "Alder (Recovery)"
        << "Version 7.1" << true;
    QTest::newRow("silent unit") << false << 3 << false << false << true << "Unknown Device"
                                 << QString() << true;
}

void TestConnection::displayNameAndUpdateNeed()
{
    QFETCH(bool, answers);
    QFETCH(int, applicationState);
    QFETCH(bool, recovery);
    QFETCH(bool, current);
    QFETCH(bool, compatible);
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(bool, needsUpdate);
    FakeVisibleDeckController device;
    device.fake->answers = answers;
    device.fake->applicationState = uint8_t(applicationState);
    device.fake->recovery = recovery;
    device.fake->current = current;
    device.fake->compatible = compatible;
    QCOMPARE(device.displayName(), name);
    QCOMPARE(device.softwareVersion(), version);
    QCOMPARE(device.needsFirmwareUpdate(), needsUpdate);
    QCOMPARE(device.availableVersion(), QStringLiteral("Version 7.1"));

    FakeVisibleDeckController none(nullptr, false);
    QCOMPARE(none.displayName(), QStringLiteral("Unknown Device"));
    QCOMPARE(none.productName(), QStringLiteral("Unknown Device"));
    QVERIFY(!none.needsFirmwareUpdate());
    QVERIFY(!none.isConnected());
    QVERIFY(none.uniqueId().empty());
}

void TestConnection::connectionIcons()
{
    Family family(nullptr);
    FakeVisibleDeckController usb(&family);
    // A family without network devices shows no USB icon.
    QVERIFY(usb.launcherConnectionIcon().isNull());
    QVERIFY(usb.cardConnectionIcon().isNull());
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
