#include "framework/contract/family.h"
#include "plugins/webview/connectionmanager.h"
#include "plugins/webview/novavisibledevice.h"
#include "plugins/webview/potentialdevice.h"
#include "tablemanager.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

struct FakeDevice : PotentialDevice
{
    FakeDevice(const std::shared_ptr<ConnectionManager>& manager, int type, QString name,
               uint16_t hardwareRevision = 0x100, QString build = "8a4c1f02")
        : PotentialDevice(manager)
        , type(type)
        , deviceName(std::move(name))
        , revision(hardwareRevision)
        , build(std::move(build))
    {
    }
    uint16_t productId() override { return 0xBE1D; }
    uint16_t hardwareRevision() override { return revision; }
    QString uniqueId() override { return "id1"; }
    QString name() override { return deviceName; }
    QString firmwareBuild() override { return build; }
    QString releaseVersion() override { return type == kUsb ? "8.4" : "8.3"; }
    int connectionType() override { return type; }
    void requestResolve() override {}
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return type != kUsb; }
    uint16_t priority() override { return type == kUsb ? 10 : 20; }

    int type;
    QString deviceName;
    uint16_t revision;
    QString build;
};

} // namespace

class TestNovaVisibleDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { m_manager = std::make_shared<TableManager>(); }

    void usbTakesOverFromNetwork();
    void equalPriorityKeepsPrimary();
    void detachingPrimaryFallsBackInListOrder();
    void updateSupportByMaskedRevision_data();
    void updateSupportByMaskedRevision();
    void withoutManagerNoRecord();

private:
    std::shared_ptr<TableManager> m_manager;
};

void TestNovaVisibleDevice::usbTakesOverFromNetwork()
{
    Family family(nullptr);
    const auto network = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kEthernet, "Net");
    NovaVisibleDevice visible(&family, network);
    QCOMPARE(visible.productName(), QString("Kestrel Alder One"));
    QCOMPARE(visible.availableVersion(), QString("8.4"));
    QVERIFY(!visible.isUsbDevice());
    QVERIFY(visible.isLegacy());

    QSignalSpy changed(&family, &Family::deviceInfoChanged);
    QSignalSpy listChanged(&visible, &NovaVisibleDevice::potentialDeviceListChanged);
    const auto usb = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kUsb, "Usb");
    visible.attachPotentialDevice(usb);
    QCOMPARE(visible.primary(), std::shared_ptr<PotentialDevice>(usb));
    QVERIFY(visible.isUsbDevice());
    QVERIFY(!visible.isLegacy());
    QCOMPARE(visible.displayName(), QString("Usb"));
    QCOMPARE(visible.softwareVersion(), QString("8.4"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(listChanged.count(), 1);
}

void TestNovaVisibleDevice::equalPriorityKeepsPrimary()
{
    const auto first = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kEthernet, "A");
    const auto second = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kEthernet, "B");
    NovaVisibleDevice visible(nullptr, first);
    visible.attachPotentialDevice(second);
    QCOMPARE(visible.primary(), std::shared_ptr<PotentialDevice>(first));
    QCOMPARE(visible.displayName(), QString("A"));
}

void TestNovaVisibleDevice::detachingPrimaryFallsBackInListOrder()
{
    const auto usb = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kUsb, "Usb");
    const auto netA = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kEthernet, "A");
    const auto netB = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kEthernet, "B");
    NovaVisibleDevice visible(nullptr, netA);
    visible.attachPotentialDevice(usb);
    visible.attachPotentialDevice(netB);
    visible.detachPotentialDevice(usb.get());
    QCOMPARE(visible.primary(), std::shared_ptr<PotentialDevice>(netA));
    QCOMPARE(visible.displayName(), QString("A"));
    visible.detachPotentialDevice(netA.get());
    visible.detachPotentialDevice(netB.get());
    QVERIFY(!visible.primary());
    QCOMPARE(visible.softwareVersion(), QString("0.0"));
    QVERIFY(!visible.isSupported());
    QVERIFY(!visible.needsFirmwareUpdate());
    QVERIFY(!visible.createConnectedDevice());
    QVERIFY(visible.cardConnectionIcon().isNull());
}

void TestNovaVisibleDevice::updateSupportByMaskedRevision_data()
{
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("build");
    QTest::addColumn<bool>("supported");
    QTest::addColumn<bool>("needsUpdate");
    const QString current = supportedProducts().at(0xBE1D).firmwareBuild;
    QTest::newRow("same revision, other build") << 0x100 << "00000001" << true << true;
    QTest::newRow("minor revision masked off") << 0x1A3 << "00000001" << true << true;
    QTest::newRow("older revision") << 0x0FF << "00000001" << true << true;
    QTest::newRow("newer hardware") << 0x200 << "00000001" << false << false;
    QTest::newRow("current build") << 0x100 << current << true << false;
}

void TestNovaVisibleDevice::updateSupportByMaskedRevision()
{
    QFETCH(int, revision);
    QFETCH(QString, build);
    const auto usb = std::make_shared<FakeDevice>(m_manager, PotentialDevice::kUsb, "Usb",
                                                  uint16_t(revision), build);
    NovaVisibleDevice visible(nullptr, usb);
    QTEST(visible.isSupported(), "supported");
    QTEST(visible.needsFirmwareUpdate(), "needsUpdate");
}

void TestNovaVisibleDevice::withoutManagerNoRecord()
{
    const auto orphan = std::make_shared<FakeDevice>(nullptr, PotentialDevice::kUsb, "Usb");
    NovaVisibleDevice visible(nullptr, orphan);
    QCOMPARE(visible.productName(), QString());
    QCOMPARE(visible.availableVersion(), QString("0.0"));
    QVERIFY(!visible.isSupported());
    QVERIFY(!visible.deviceHandle());
}

QTEST_MAIN(TestNovaVisibleDevice)
#include "tst_novavisibledevice.moc"
