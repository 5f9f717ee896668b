#include "framework/contract/devicefirmwareupdater.h"
#include "groupingfamily.h"
#include "novabench.h"
#include "plugins/webview/bonjourpotentialdevice.h"
#include "plugins/webview/kestrelnovawebviewbonjourconnectionmanager.h"
#include "plugins/webview/kestrelnovawebviewbonjourpotentialdevice.h"
#include "plugins/webview/kestrelnovawebviewusbpotentialdevice.h"
#include "plugins/webview/transport/tunnelproxyendpoint.h"
#include "plugins/webview/usbconnectionmanager.h"
#include "sim/novarecorder/novabonjourrecords.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace Sim::NovaBonjour;

namespace {

constexpr int kWaitMs = 5000;
constexpr uint16_t kProxyPort = 41234;

// The tunnel proxy store as the USB recorder sees it.
class FakeProxyStore : public TunnelProxyEndpoint
{
public:
    using TunnelProxyEndpoint::TunnelProxyEndpoint;
    uint16_t listeningPort() const override { return kProxyPort; }
};

struct ProxyCounter
{
    int made = 0;
    bool fail = false;

    KestrelNovaWebViewUsbPotentialDevice::ProxyStoreFactory factory()
    {
        return [this](KestrelNovaWebViewUsbPotentialDevice* parent) -> TunnelProxyEndpoint* {
            if (fail)
                throw std::runtime_error("no port");
            ++made;
            return new FakeProxyStore(parent);
        };
    }
};

std::shared_ptr<UsbConnectionManager> usbManager(GroupingFamily* family, ProxyCounter* proxies)
{
    auto factory = proxies->factory();
    return std::make_shared<UsbConnectionManager>(
        family, supportedProducts(), nullptr, nullptr,
        [factory](std::shared_ptr<UsbConnectionManager> manager,
                  CVN::USB::IUSBDevice* device) -> std::shared_ptr<UsbPotentialDevice> {
            try {
                return UsbPotentialDevice::create<KestrelNovaWebViewUsbPotentialDevice>(
                    manager, device, factory);
            } catch (const std::exception&) {
                return UsbPotentialDevice::create<UsbPotentialDevice>(manager, device);
            }
        },
        nullptr);
}

std::shared_ptr<BonjourConnectionManager> networkManager(GroupingFamily* family)
{
    return std::make_shared<KestrelNovaWebViewBonjourConnectionManager>(
        family, supportedProducts(), nullptr, nullptr,
        [](std::shared_ptr<BonjourConnectionManager> manager, const BonjourInfo& info) {
            return std::make_shared<KestrelNovaWebViewBonjourPotentialDevice>(manager, info);
        },
        nullptr);
}

Sim::NovaRecorder::Options recorderOptions(bool bootloader = false, uint32_t capabilities = 0x3)
{
    Sim::NovaRecorder::Options options;
    options.serial = "NV1234ABCD";
    options.bootloader = bootloader;
    options.capabilities = capabilities;
    return options;
}

} // namespace

class TestUsbDevices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        registerBonjourRecordTypes();
        qRegisterMetaType<VisibleDevice*>();
    }

    void usbAndNetworkAreOneDevice_data();
    void usbAndNetworkAreOneDevice();
    void rpcDeviceFacts();
    void legacyByBootModeAndRelease_data();
    void legacyByBootModeAndRelease();
    void keyValueDefaultsWithoutCapability();
    void resolveRequestDoesNothing();
    void proxyStoreMadeOnceAndRetriedAfterFailure();
    void destroyedOnItsOwnThread();
    void twoUnitsOneIdEachRemovedByItsDevice();
};

void TestUsbDevices::usbAndNetworkAreOneDevice_data()
{
    QTest::addColumn<bool>("usbLeavesFirst");
    QTest::newRow("USB leaves first") << true;
    QTest::newRow("network leaves first") << false;
}

void TestUsbDevices::usbAndNetworkAreOneDevice()
{
    QFETCH(bool, usbLeavesFirst);
    GroupingFamily family;
    ProxyCounter proxies;
    NovaBench bench(recorderOptions());
    const auto usb = usbManager(&family, &proxies);
    const auto network = networkManager(&family);
    QSignalSpy arrived(&family, &Family::deviceArrived);
    QSignalSpy removed(&family, qOverload<VisibleDevice*>(&Family::deviceRemoved));

    // Seen on the network first, with its serial number as the unique id.
    QVERIFY(network->deviceAdded(http("NV1234ABCD")));
    QVERIFY(network->deviceResolved(http("nv1234abcd"), true, "alder.local.", "127.0.0.9", 80));
    QCOMPARE(family.visibleDevices.size(), size_t(1));
    const auto visible = family.visibleDevices.front();
    QVERIFY(!visible->isUsbDevice());

    usb->start();
    QTRY_COMPARE_WITH_TIMEOUT(family.added, 2, kWaitMs);
    QCOMPARE(arrived.count(), 1);
    QCOMPARE(family.visibleDevices.size(), size_t(1));
    QCOMPARE(visible->potentialDevices().size(), size_t(2));
    QVERIFY(visible->isUsbDevice());
    QCOMPARE(visible->primary()->connectionType(), int(PotentialDevice::kUsb));
    QCOMPARE(visible->primary()->host(), std::string("127.0.0.1"));
    QCOMPARE(visible->primary()->port(), kProxyPort);
    QVERIFY(usb->findByUniqueId("nv1234abcd"));

    if (usbLeavesFirst) {
        QVERIFY(Sim::UsbBus::instance().unplug(bench.id()));
        QTRY_COMPARE_WITH_TIMEOUT(family.removed, 1, kWaitMs);
        QVERIFY(!usb->findByUniqueId("nv1234abcd"));
        QCOMPARE(removed.count(), 0);
        QVERIFY(!visible->isUsbDevice());
        QCOMPARE(visible->primary()->connectionType(), int(PotentialDevice::kEthernet));
        QVERIFY(network->deviceRemoved(http("nv1234abcd")));
    } else {
        QVERIFY(network->deviceRemoved(http("nv1234abcd")));
        QCOMPARE(removed.count(), 0);
        QVERIFY(visible->isUsbDevice());
        QVERIFY(Sim::UsbBus::instance().unplug(bench.id()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, kWaitMs);
    QVERIFY(family.visibleDevices.empty());
    QCOMPARE(visible->softwareVersion(), QString("0.0"));
    QVERIFY(visible->launcherConnectionIcon().isNull());
}

void TestUsbDevices::rpcDeviceFacts()
{
    GroupingFamily family;
    ProxyCounter proxies;
    NovaBench bench(recorderOptions());
    bench.recorder().keyValue().setValue("BuildId", "8A4C1F02");
    const auto usb = usbManager(&family, &proxies);
    usb->start();
    QTRY_COMPARE_WITH_TIMEOUT(family.added, 1, kWaitMs);
    const auto visible = family.visibleDevices.front();
    const auto primary = visible->primary();
    QVERIFY(dynamic_cast<KestrelNovaWebViewUsbPotentialDevice*>(primary.get()));
    QCOMPARE(int(primary->productId()), 0xBE1D);
    QCOMPARE(int(primary->hardwareRevision()), 0x100);
    QCOMPARE(primary->uniqueId(), QString("nv1234abcd"));
    QCOMPARE(primary->name(), QString("Kestrel Alder One"));
    QCOMPARE(primary->releaseVersion(), QString("8.4"));
    // Reported in upper case, compared with the table's lower-case build.
    QCOMPARE(primary->firmwareBuild(), QString("8a4c1f02"));
    QCOMPARE(visible->displayName(), QString("Kestrel Alder One"));
    QCOMPARE(visible->productName(), QString("Kestrel Alder One"));
    QVERIFY(visible->isSupported());
    QCOMPARE(visible->needsFirmwareUpdate(),
             supportedProducts().at(0xBE1D).firmwareBuild != "8a4c1f02");
    QCOMPARE(int(primary->priority()), 10);
}

void TestUsbDevices::legacyByBootModeAndRelease_data()
{
    QTest::addColumn<uint32_t>("capabilities");
    QTest::addColumn<QString>("release");
    QTest::addColumn<bool>("legacy");
    QTest::newRow("application, 8.4") << 0x3u << "8.4" << false;
    QTest::newRow("application, 8.3") << 0x3u << "8.3" << true;
    QTest::newRow("boot mode unreadable") << 0x2u << "8.4" << true;
}

void TestUsbDevices::legacyByBootModeAndRelease()
{
    QFETCH(uint32_t, capabilities);
    QFETCH(QString, release);
    QFETCH(bool, legacy);
    NovaBench bench(recorderOptions(false, capabilities));
    bench.recorder().keyValue().setValue("ReleaseVersion", release.toStdString());
    CVN::USB::IUSBDevice* device = bench.device();
    QVERIFY(device);
    const auto made =
        UsbPotentialDevice::create<KestrelNovaWebViewUsbPotentialDevice>(nullptr, device, nullptr);
    QCOMPARE(made->isLegacy(), legacy);
}

void TestUsbDevices::keyValueDefaultsWithoutCapability()
{
    NovaBench loader(recorderOptions(true, 0x1));
    CVN::USB::IUSBDevice* device = loader.device();
    QVERIFY(device);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                             UsbPotentialDevice::create<UsbRpcPotentialDevice>(nullptr, device));
    const auto made = UsbPotentialDevice::create<UsbPotentialDevice>(nullptr, device);
    QCOMPARE(made->name(), QString("Corvane Device"));
    QCOMPARE(made->firmwareBuild(), QString());
    QCOMPARE(made->releaseVersion(), QString());
    QCOMPARE(int(made->bootMode()), int(Sim::NovaRecorder::kBootloaderBootMode));
    QVERIFY(made->isLegacy());
    QCOMPARE(made->uniqueId(), QString("nv1234abcd"));
}

void TestUsbDevices::resolveRequestDoesNothing()
{
    GroupingFamily family;
    ProxyCounter proxies;
    NovaBench bench(recorderOptions());
    const auto usb = usbManager(&family, &proxies);
    usb->start();
    QTRY_COMPARE_WITH_TIMEOUT(family.added, 1, kWaitMs);
    QSignalSpy plain(&family, &Family::bonjourResolveRequested);
    QSignalSpy withPort(&family, &Family::bonjourResolveRequestedWithPort);
    bench.clearLog();
    family.visibleDevices.front()->primary()->requestResolve();
    QCOMPARE(plain.count() + withPort.count(), 0);
    QVERIFY(bench.log().empty());
}

void TestUsbDevices::proxyStoreMadeOnceAndRetriedAfterFailure()
{
    ProxyCounter proxies;
    NovaBench bench(recorderOptions());
    CVN::USB::IUSBDevice* device = bench.device();
    QVERIFY(device);
    proxies.fail = true;
    const auto made = UsbPotentialDevice::create<KestrelNovaWebViewUsbPotentialDevice>(
        nullptr, device, proxies.factory());
    made->onAddedToFamily();
    QCOMPARE(made->port(), uint16_t(0));
    proxies.fail = false;
    QCOMPARE(made->port(), kProxyPort);
    QCOMPARE(made->port(), kProxyPort);
    made->onAddedToFamily();
    QCOMPARE(proxies.made, 1);
    QCOMPARE(made->host(), std::string("127.0.0.1"));
}

void TestUsbDevices::destroyedOnItsOwnThread()
{
    ProxyCounter proxies;
    NovaBench bench(recorderOptions());
    CVN::USB::IUSBDevice* device = bench.device();
    QVERIFY(device);
    auto made = UsbPotentialDevice::create<KestrelNovaWebViewUsbPotentialDevice>(nullptr, device,
                                                                                 proxies.factory());
    made->onAddedToFamily();
    std::atomic<QThread*> destroyedOn{nullptr};
    connect(
        made.get(), &QObject::destroyed, made.get(),
        [&destroyedOn] { destroyedOn = QThread::currentThread(); }, Qt::DirectConnection);

    // A worker holding the last reference lets go of it.
    std::thread worker([held = std::move(made)]() mutable { held.reset(); });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(destroyedOn.load(), QThread::currentThread(), kWaitMs);
}

void TestUsbDevices::twoUnitsOneIdEachRemovedByItsDevice()
{
    GroupingFamily family;
    ProxyCounter proxies;
    NovaBench first(recorderOptions());
    Sim::NovaRecorder::Options other = recorderOptions();
    other.productId = 0xBEAC;
    NovaBench second(std::make_shared<Sim::NovaRecorder>(other));
    std::vector<std::shared_ptr<UsbPotentialDevice>> updaterTargets;
    auto factory = proxies.factory();
    const auto usb = std::make_shared<UsbConnectionManager>(
        &family, supportedProducts(), nullptr,
        [&updaterTargets](std::shared_ptr<UsbConnectionManager>,
                          std::shared_ptr<UsbPotentialDevice> device) {
            updaterTargets.push_back(device);
            return QSharedPointer<DeviceFirmwareUpdater>();
        },
        [factory](std::shared_ptr<UsbConnectionManager> manager, CVN::USB::IUSBDevice* device) {
            return UsbPotentialDevice::create<KestrelNovaWebViewUsbPotentialDevice>(manager, device,
                                                                                    factory);
        },
        nullptr);
    usb->start();
    QTRY_COMPARE_WITH_TIMEOUT(family.added, 2, kWaitMs);
    QCOMPARE(family.visibleDevices.size(), size_t(1));
    const auto visible = family.visibleDevices.front();
    QCOMPARE(visible->potentialDevices().size(), size_t(2));

    // The listed device with the id is the target, whichever object asked.
    const auto asking = visible->potentialDevices().back();
    visible->deviceHandle();
    asking->createFirmwareUpdater(visible.get());
    QCOMPARE(updaterTargets.size(), size_t(2));
    QCOMPARE(updaterTargets[0], updaterTargets[1]);
    QCOMPARE(std::shared_ptr<PotentialDevice>(updaterTargets[0]), visible->primary());

    const auto staying = visible->primary();
    const auto leaving = visible->potentialDevices().back();
    const Sim::DeviceId leavingId =
        static_cast<UsbPotentialDevice*>(leaving.get())->productId() == 0xBEAC ? second.id()
                                                                               : first.id();
    QVERIFY(Sim::UsbBus::instance().unplug(leavingId));
    QTRY_COMPARE_WITH_TIMEOUT(family.removed, 1, kWaitMs);
    QCOMPARE(visible->potentialDevices().size(), size_t(1));
    QCOMPARE(visible->primary(), staying);
    QCOMPARE(family.visibleDevices.size(), size_t(1));
}

QTEST_MAIN(TestUsbDevices)
#include "tst_usbdevices.moc"
