#include "fakekestrel.h"
#include "simunits.h"

#include "plugins/recorder/kestrelmodeltable.h"
#include "plugins/recorder/visibleusbkestrel.h"

#include <QtTest>

#include <memory>

using namespace CVN::DiskRecorder;

// How the gallery sees each simulated recorder, and the visible device's hold on its device.
class VisibleDeviceTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { Sim::UsbBus::instance().reset(); }

    void simulatedUnitsAsTheGallerySeesThem_data();
    void simulatedUnitsAsTheGallerySeesThem();
    void unitsWithOtherFirmwareNeedTheShippedOne_data();
    void unitsWithOtherFirmwareNeedTheShippedOne();
    void streamingVersionTextAsTheUnitReportsIt_data();
    void streamingVersionTextAsTheUnitReportsIt();
    void productIdDecidesTheModel_data();
    void productIdDecidesTheModel();
    void holdsOneReferenceAndHandsOutItsUpdater();
};

void VisibleDeviceTest::simulatedUnitsAsTheGallerySeesThem_data()
{
    QTest::addColumn<QString>("generation");
    QTest::addColumn<int>("productId");
    QTest::addColumn<quint32>("model");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::newRow("fx2 c34c") << "fx2" << 0xC34C << 0u << "Kestrel Pocket"
                              << "";
    QTest::newRow("fx2 c35a") << "fx2" << 0xC35A << 1u << "Kestrel Pocket 2"
                              << "";
    QTest::newRow("fx2 c3a3") << "fx2" << 0xC3A3 << 2u << "Kestrel Bench Max"
                              << "";
    QTest::newRow("fx2 c34d") << "fx2" << 0xC34D << 3u << "Kestrel Bench"
                              << "";
    QTest::newRow("xmega mailbox") << "mailbox" << 0xC3A6 << 4u << "Kestrel Bench UHD"
                                   << "";
    QTest::newRow("streaming c3e4") << "streaming" << 0xC3E4 << 5u << "Kestrel Bench Lite"
                                    << "Version 4.2.0";
    QTest::newRow("streaming be0f") << "streaming" << 0xBE0F << 5u << "Kestrel Bench Lite"
                                    << "Version 4.2.0";
}

// Each unit runs the firmware the plug-in ships: supported, current, named by its model.
void VisibleDeviceTest::simulatedUnitsAsTheGallerySeesThem()
{
    QFETCH(QString, generation);
    QFETCH(int, productId);
    QFETCH(quint32, model);
    QFETCH(QString, name);
    QFETCH(QString, version);
    auto unit = makeSimUnit(generation, uint16_t(productId));
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());

    VisibleUSBKestrel visible(unit->device(), nullptr);
    QCOMPARE(visible.model(), model);
    QCOMPARE(visible.productId, quint32(productId));
    QCOMPARE(visible.productName(), name);
    QCOMPARE(visible.displayName(), name);
    QCOMPARE(visible.familyName(), QStringLiteral("Kestrel"));
    QVERIFY(visible.isSupported());
    QVERIFY(!visible.needsFirmwareUpdate());
    QCOMPARE(visible.softwareVersion(), version);
    QVERIFY(visible.isConnected());
    QVERIFY(!visible.isUsbDevice());
    QVERIFY(!visible.isLegacy());
    QVERIFY(visible.availableVersion().isEmpty());
    // The plug-in carries no product artwork: the pictures are the empty ones.
    QVERIFY(visible.productPixmap().isNull());
    QVERIFY(visible.thumbnailPixmap().isNull());
    QVERIFY(visible.matchesDevice(unit->device()));
}

void VisibleDeviceTest::unitsWithOtherFirmwareNeedTheShippedOne_data()
{
    QTest::addColumn<QString>("generation");
    QTest::newRow("fx2") << "fx2";
    QTest::newRow("xmega mailbox") << "mailbox";
    QTest::newRow("streaming") << "streaming";
}

void VisibleDeviceTest::unitsWithOtherFirmwareNeedTheShippedOne()
{
    QFETCH(QString, generation);
    std::unique_ptr<SimUnit> unit;
    if (generation == "fx2") {
        auto fx2 = makeFx2Unit(0xC34D);
        fx2->model->setFirmware(0x2C, 0x1A6291BD);
        unit = std::move(fx2);
    } else if (generation == "mailbox") {
        auto mailbox = makeMailboxUnit();
        mailbox->model->setFirmware(0x10, 0x16327E56);
        unit = std::move(mailbox);
    } else {
        auto streaming = makeStreamingUnit();
        streaming->model->setChecksums(1, 2);
        unit = std::move(streaming);
    }
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());

    VisibleUSBKestrel visible(unit->device(), nullptr);
    QVERIFY(visible.isSupported());
    QVERIFY(visible.needsFirmwareUpdate());
    QVERIFY(!visible.deviceHandle()->checkDevice());
}

void VisibleDeviceTest::streamingVersionTextAsTheUnitReportsIt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("short") << "5.1"
                           << "Version 5.1";
    QTest::newRow("cut at the buffer") << "1.2.3-rc4-long"
                                       << "Version 1.2.3-rc4-";
    QTest::newRow("none") << ""
                          << "";
}

void VisibleDeviceTest::streamingVersionTextAsTheUnitReportsIt()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    auto unit = makeStreamingUnit();
    unit->model->setVersions(text.toStdString(), 0x1633975A, 0x11);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    VisibleUSBKestrel visible(unit->device(), nullptr);
    QCOMPARE(visible.softwareVersion(), shown);
}

void VisibleDeviceTest::productIdDecidesTheModel_data()
{
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("productId");
    QTest::addColumn<quint32>("model");
    QTest::addColumn<QString>("name");
    QTest::newRow("c367, the first bench max") << true << 0xC367 << 2u << "Kestrel Bench Max";
    QTest::newRow("not a recorder id") << true << 0x1234 << 6u << "Kestrel";
    QTest::newRow("id unreadable") << false << 0xC34C << 6u << "";
}

void VisibleDeviceTest::productIdDecidesTheModel()
{
    QFETCH(bool, readable);
    QFETCH(int, productId);
    QFETCH(quint32, model);
    QFETCH(QString, name);
    auto* fake = new FakeKestrel(uint16_t(productId));
    if (!readable)
        fake->productId = std::nullopt;
    {
        VisibleUSBKestrel visible(fake, nullptr);
        QCOMPARE(visible.model(), model);
        QCOMPARE(visible.productName(), name);
        QVERIFY(visible.productPixmap().isNull());
        // A unit whose firmware cannot be judged is offered the shipped one.
        fake->firmwareCurrent = false;
        QVERIFY(visible.needsFirmwareUpdate());
        QCOMPARE(visible.softwareVersion(), QString());
        std::unique_ptr<KestrelUSBConnection> connection(visible.createConnection());
        QCOMPARE(connection->model(), model);
        QVERIFY(!connection->parent());
    }
    fake->release();
}

void VisibleDeviceTest::holdsOneReferenceAndHandsOutItsUpdater()
{
    std::atomic<int> destroyed{0};
    auto* fake = new FakeKestrel(0xC34D);
    fake->destroyed = &destroyed;
    auto visible = std::make_unique<VisibleUSBKestrel>(fake, nullptr);
    QVERIFY(visible->matchesDevice(fake));
    QVERIFY(!visible->matchesDevice(nullptr));
    QCOMPARE(visible->device(), static_cast<IKestrel*>(fake));

    QSharedPointer<DeviceFirmwareUpdater> handle = visible->deviceHandle();
    QVERIFY(handle);
    QCOMPARE(visible->deviceHandle(), handle);
    auto* updater = qobject_cast<VisibleUSBKestrelFirmwareUpdater*>(handle.data());
    QVERIFY(updater);
    QCOMPARE(updater->updater().device(), static_cast<IKestrel*>(fake));

    // The creator's reference goes; the visible device and its updater still hold the unit.
    fake->release();
    QCOMPARE(destroyed.load(), 0);
    visible.reset();
    QCOMPARE(destroyed.load(), 0);
    // The last holder of the updater lets go: the updater goes later, and the unit with it.
    handle.reset();
    QTRY_COMPARE(destroyed.load(), 1);
}

QTEST_MAIN(VisibleDeviceTest)
#include "tst_visibledevice.moc"
