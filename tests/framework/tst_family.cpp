#include "framework/accentcolour.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"
#include "stubdevice.h"

#include <QtTest>

namespace {

class PlainFamily : public Family
{
public:
    using Family::Family;
};

// Takes device-change messages whose word parameter is 0x8000 and records every call.
class ClaimingFamily : public Family
{
public:
    using Family::Family;
    bool nativeEvent(const Platform::Message* message) override
    {
        seen << message->wParam;
        return message->wParam == 0x8000;
    }
    QList<uintptr_t> seen;
};

using Device = StubDevice;

Platform::Message deviceChange(uintptr_t code, uint32_t message = Platform::kWmDeviceChange)
{
    Platform::Message m;
    m.message = message;
    m.wParam = code;
    return m;
}

} // namespace

class TestFamily : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaultsRefusePolitely();
    void selectionFollowsOwnDevicesOnly();
    void deviceChangeReachesTheFamilyOnItsThread();
    void declinedOrForeignMessagesLeaveResultAlone();
    void accentColourIsModuleWide();
    void progressFromFraction_data();
    void progressFromFraction();
};

void TestFamily::defaultsRefusePolitely()
{
    QObject window;
    PlainFamily f(&window);
    QCOMPARE(f.parent(), &window);
    QVERIFY(!f.handlesNetworkDevices());
    QVERIFY(f.customPage(nullptr, nullptr) == nullptr);
    QVERIFY(f.canClose());
    QVERIFY(f.name().isEmpty());
    QVERIFY(f.serviceNames().isEmpty());
    QVERIFY(f.crossMenuOptions().isEmpty());
    QVERIFY(f.buildDetails().isEmpty());
    BonjourInfo info;
    QVERIFY(!f.deviceAdded(info));
    QVERIFY(!f.deviceRemoved(info));
    QVERIFY(!f.deviceUpdated(info));
    QVERIFY(!f.deviceResolved(info, true, "h", "1.2.3.4", 80));
    Platform::Message m = deviceChange(0x8000);
    QVERIFY(!f.nativeEvent(&m));
    QVERIFY(f.currentDevice() == nullptr);
    Platform::Recipient* r = f.notificationWindowId();
    QVERIFY(r != nullptr);
    QCOMPARE(f.notificationWindowId(), r);
}

void TestFamily::selectionFollowsOwnDevicesOnly()
{
    PlainFamily mine(nullptr);
    PlainFamily other(nullptr);
    Device own(&mine);
    Device foreign(&other);

    mine.onDeviceSelected(&own);
    QCOMPARE(mine.currentDevice(), &own);
    mine.onDeviceSelected(&foreign);
    QVERIFY(mine.currentDevice() == nullptr);
    mine.onDeviceSelected(&own);
    mine.onDeviceSelected(nullptr);
    QVERIFY(mine.currentDevice() == nullptr);
}

void TestFamily::deviceChangeReachesTheFamilyOnItsThread()
{
    ClaimingFamily f(nullptr);
    Platform::Recipient* r = f.notificationWindowId();

    // Posted from another thread, handled on the family's, never inside the post.
    std::thread poster([r] { r->postMessage(deviceChange(0x8000)); });
    poster.join();
    QVERIFY(f.seen.isEmpty());
    QTRY_COMPARE(f.seen, QList<uintptr_t>{0x8000});

    auto* qt = static_cast<Platform::QtRecipient*>(r);
    intptr_t result = 0;
    QVERIFY(qt->deliver(deviceChange(0x8000), &result));
    QCOMPARE(result, intptr_t(1));
}

void TestFamily::declinedOrForeignMessagesLeaveResultAlone()
{
    ClaimingFamily f(nullptr);
    auto* qt = static_cast<Platform::QtRecipient*>(f.notificationWindowId());

    intptr_t result = 42;
    QVERIFY(!qt->deliver(deviceChange(0x8004), &result));
    QCOMPARE(result, intptr_t(42));
    QCOMPARE(f.seen, QList<uintptr_t>{0x8004});

    QVERIFY(!qt->deliver(deviceChange(0x8000, 0x0010), &result));
    QCOMPARE(result, intptr_t(42));
    QCOMPARE(f.seen.size(), 1);
}

void TestFamily::accentColourIsModuleWide()
{
    QCOMPARE(accentColour(), QColor(100, 100, 100));
    PlainFamily f(nullptr);
    f.setAccentColour(QColor(10, 20, 30));
    QCOMPARE(accentColour(), QColor(10, 20, 30));
    setModuleAccentColour(QColor(100, 100, 100));
}

void TestFamily::progressFromFraction_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("percent");
    QTest::newRow("start") << 0.0 << 0;
    QTest::newRow("truncates") << 0.499 << 49;
    QTest::newRow("done") << 1.0 << 100;
    QTest::newRow("small negative is busy") << -0.001 << -1;
    QTest::newRow("negative is busy") << -5.0 << -1;
}

void TestFamily::progressFromFraction()
{
    QFETCH(double, fraction);
    QFETCH(int, percent);
    QCOMPARE(DeviceFirmwareUpdater::percentFromFraction(fraction), percent);
}

QTEST_GUILESS_MAIN(TestFamily)
#include "tst_family.moc"
