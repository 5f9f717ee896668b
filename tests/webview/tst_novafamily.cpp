#include "novabench.h"
#include "tablemanager.h"

#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/tendwellplugin.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "plugins/webview/bonjourpotentialdevice.h"
#include "plugins/webview/firmwareupdatecontroller.h"
#include "plugins/webview/firmwareupdatedialog.h"
#include "plugins/webview/getfirmware.h"
#include "plugins/webview/novafactories.h"
#include "plugins/webview/novafamily.h"
#include "plugins/webview/novaproductcard.h"
#include "plugins/webview/novavisibledevice.h"
#include "plugins/webview/productrecord.h"
#include "plugins/webview/usbpotentialdevice.h"
#include "sim/novarecorder/novabonjourrecords.h"
#include "sim/novawebserver/novawebserver.h"

#include <QPluginLoader>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <memory>

namespace {

struct FakeDevice : PotentialDevice
{
    FakeDevice(const std::shared_ptr<ConnectionManager>& manager, QString id, int type)
        : PotentialDevice(manager)
        , id(std::move(id))
        , type(type)
    {
    }
    uint16_t productId() override { return 0xBE1D; }
    uint16_t hardwareRevision() override { return 0x100; }
    QString uniqueId() override { return id; }
    QString name() override { return QStringLiteral("Stage Left"); }
    QString firmwareBuild() override { return QStringLiteral("8a4c1f02"); }
    QString releaseVersion() override { return QStringLiteral("8.4"); }
    int connectionType() override { return type; }
    void requestResolve() override { ++resolves; }
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return false; }
    uint16_t priority() override { return type == kUsb ? 10 : 20; }
    void onAddedToFamily() override { ++added; }

    QString id;
    int type;
    int resolves = 0;
    int added = 0;
};

QSet<QString> serviceTypes()
{
    return {QStringLiteral("_http._tcp"), QStringLiteral("_cvn_blockcfg._tcp")};
}

QString pluginFolder()
{
    return qEnvironmentVariable("PELLWORTH_BIN_DIR") + QStringLiteral("/Tendwell/PlugIns/Quenby");
}

NovaProductCard* cardOf(QWidget* window)
{
    return window->findChild<NovaProductCard*>();
}

// Two network recorders, "nova-1" and "nova-2", each a visible device of its own.
std::pair<std::shared_ptr<FakeDevice>, std::shared_ptr<FakeDevice>>
addTwoNetworkRecorders(NovaFamily& family)
{
    auto manager = std::make_shared<TableManager>(QStringLiteral("USB"));
    auto first = std::make_shared<FakeDevice>(manager, "nova-1", PotentialDevice::kEthernet);
    auto second = std::make_shared<FakeDevice>(manager, "nova-2", PotentialDevice::kEthernet);
    family.addPotentialDevice(first);
    family.addPotentialDevice(second);
    return {first, second};
}

} // namespace

// The web-view family with the plug-in's own managers and factories, against simulated
// recorders on loopback and on the simulated bus.
class TestNovaFamily : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void groupsByUniqueId_data();
    void groupsByUniqueId();
    void openCardKeepsItsDeviceListed();
    void aClosingCardLeavesTheNewerCardsDevice();
    void oneUpdateAtATime();
    void networkRecorderGetsACard();
    void usbRecorderIsReachedThroughItsTunnel();
    void usbLoaderWithoutRpcIsStillOffered();
    void bonjourRecordsMatchTheirRelease_data();
    void bonjourRecordsMatchTheirRelease();
    void updaterPerKind_data();
    void updaterPerKind();
    void buildDetails();
    void pluginRootBuildsTheFamily();

private:
    std::unique_ptr<QWidget> m_window = std::make_unique<QWidget>();
};

void TestNovaFamily::initTestCase()
{
    qRegisterMetaType<VisibleDevice*>();
    // The packages the plug-in carries, as its initialisation finds them.
    FirmwareFileLocator::setResourcesDirectory((pluginFolder() + "/Resources").toStdString());
}

void TestNovaFamily::cleanupTestCase()
{
    FirmwareFileLocator::setResourcesDirectory({});
}

void TestNovaFamily::cleanup()
{
    qDeleteAll(m_window->findChildren<NovaProductCard*>(Qt::FindDirectChildrenOnly));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestNovaFamily::groupsByUniqueId_data()
{
    QTest::addColumn<QString>("usbId");
    QTest::addColumn<QString>("networkId");
    QTest::addColumn<int>("visibleDevices");
    QTest::newRow("same id") << "nova-1"
                             << "nova-1" << 1;
    QTest::newRow("other letter case") << "nova-1"
                                       << "NOVA-1" << 2;
    QTest::newRow("other id") << "nova-1"
                              << "nova-2" << 2;
}

void TestNovaFamily::groupsByUniqueId()
{
    QFETCH(QString, usbId);
    QFETCH(QString, networkId);
    QFETCH(int, visibleDevices);
    NovaFamily family(QStringLiteral("KestrelNovaWebView"), serviceTypes(), m_window.get());
    QSignalSpy arrived(&family, &Family::deviceArrived);
    auto manager = std::make_shared<TableManager>(QStringLiteral("USB"));
    auto usb = std::make_shared<FakeDevice>(manager, usbId, PotentialDevice::kUsb);
    auto network = std::make_shared<FakeDevice>(manager, networkId, PotentialDevice::kEthernet);
    family.addPotentialDevice(network);
    family.addPotentialDevice(usb);
    QCOMPARE(int(family.visibleDevices().size()), visibleDevices);
    QCOMPARE(arrived.count(), visibleDevices);
    QCOMPARE(usb->added, 1);
    QCOMPARE(network->added, 1);
    if (visibleDevices == 1) {
        // USB answers for the recorder it shares with the network.
        QCOMPARE(family.visibleDevices().front()->potentialDevices().size(), size_t(2));
        QCOMPARE(family.visibleDevices().front()->primary(), usb);
    }
}

void TestNovaFamily::openCardKeepsItsDeviceListed()
{
    NovaFamily family(QStringLiteral("KestrelNovaWebView"), serviceTypes(), m_window.get());
    QSignalSpy removed(&family, qOverload<VisibleDevice*>(&Family::deviceRemoved));
    auto manager = std::make_shared<TableManager>(QStringLiteral("USB"));
    auto device = std::make_shared<FakeDevice>(manager, "nova-1", PotentialDevice::kEthernet);
    family.addPotentialDevice(device);
    VisibleDevice* visible = family.visibleDevices().front().get();
    family.showDevice(visible);
    NovaProductCard* card = cardOf(m_window.get());
    QVERIFY(card);
    QCOMPARE(family.shownDevice().get(), visible);

    family.removePotentialDeviceByUniqueId(device);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(family.visibleDevices().size(), size_t(1));
    // Back while its card is open: the same device takes it in.
    family.addPotentialDevice(device);
    QCOMPARE(family.visibleDevices().size(), size_t(1));
    QCOMPARE(family.visibleDevices().front()->primary(), device);
    family.removePotentialDeviceByUniqueId(device);

    delete card;
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.first().first().value<VisibleDevice*>(), visible);
    QVERIFY(family.visibleDevices().empty());
    QVERIFY(!family.shownDevice());
}

void TestNovaFamily::aClosingCardLeavesTheNewerCardsDevice()
{
    NovaFamily family(QStringLiteral("KestrelNovaWebView"), serviceTypes(), m_window.get());
    QSignalSpy removed(&family, qOverload<VisibleDevice*>(&Family::deviceRemoved));
    const auto [first, second] = addTwoNetworkRecorders(family);
    family.showDevice(family.visibleDevices().at(0).get());
    NovaProductCard* firstCard = cardOf(m_window.get());
    family.showDevice(family.visibleDevices().at(1).get());
    const VisibleDevice* secondVisible = family.visibleDevices().at(1).get();
    QCOMPARE(family.shownDevice().get(), secondVisible);

    family.removePotentialDeviceByUniqueId(second);
    delete firstCard;
    // The older card's closing neither clears the newer one's device nor drops it.
    QCOMPARE(family.shownDevice().get(), secondVisible);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(family.visibleDevices().size(), size_t(2));
}

void TestNovaFamily::oneUpdateAtATime()
{
    NovaFamily family(QStringLiteral("KestrelNovaWebView"), serviceTypes(), m_window.get());
    const auto recorders = addTwoNetworkRecorders(family);
    family.showDevice(family.visibleDevices().at(0).get());
    NovaProductCard* card = cardOf(m_window.get());
    QVERIFY(card);
    emit card->firmwareUpdateRequested(true);
    const QPointer<FirmwareUpdateController> running = family.firmwareUpdateController();
    QVERIFY(running);
    // Asked again from the card, from the gallery, or for another recorder: the running
    // update keeps its controller and nothing else starts.
    emit card->firmwareUpdateRequested(false);
    family.updateFirmware(family.visibleDevices().at(1).get());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(running);
    QCOMPARE(family.firmwareUpdateController(), running.data());
    QCOMPARE(m_window->findChildren<FirmwareUpdateDialog*>().size(), qsizetype(1));
}

void TestNovaFamily::networkRecorderGetsACard()
{
    NovaWebServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.7"))));
    std::unique_ptr<NovaFamily> family(createNovaFamily(m_window.get()));
    // The host's part: resolve the record to the simulated recorder.
    int askedPort = 0;
    connect(family.get(), &Family::bonjourResolveRequestedWithPort, family.get(),
            [&](BonjourInfo info, int port, QSet<QString>) {
                askedPort = port;
                QTimer::singleShot(0, family.get(), [&family, &server, info] {
                    family->deviceResolved(info, true, "alder.local.", "127.0.0.7", server.port());
                });
            });
    QSignalSpy arrived(family.get(), &Family::deviceArrived);
    QVERIFY(family->deviceAdded(Sim::NovaBonjour::http("nova-1")));
    QTRY_COMPARE(arrived.count(), 1);
    QCOMPARE(askedPort, 80);
    // Its other service joins the same recorder.
    QVERIFY(family->deviceAdded(Sim::NovaBonjour::corvane("nova-1")));

    auto* visible = arrived.first().first().value<VisibleDevice*>();
    QCOMPARE(visible->productName(), QStringLiteral("Kestrel Alder One"));
    family->showDevice(visible);
    QVERIFY(cardOf(m_window.get()));
    QTRY_VERIFY_WITH_TIMEOUT(server.count("GET", "/admin/") > 0, 60000);
}

void TestNovaFamily::usbRecorderIsReachedThroughItsTunnel()
{
    // The simulated recorder relays its tunnel to loopback's first address.
    NovaWebServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    NovaBench bench;
    std::unique_ptr<NovaFamily> family(createNovaFamily(m_window.get()));
    QSignalSpy arrived(family.get(), &Family::deviceArrived);
    family->startDiscovery();
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 10000);
    const auto visible = family->visibleDevices().front();
    QCOMPARE(visible->primary()->connectionType(), int(PotentialDevice::kUsb));
    const uint16_t port = visible->primary()->port();
    QVERIFY(port != 0);
    QCOMPARE(visible->primary()->host(), std::string("127.0.0.1"));

    // Where the recorder's own web server answers: the page comes back through the tunnel.
    bench.recorder().tunnel().mapPort(80, server.port());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /admin/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    QTRY_VERIFY_WITH_TIMEOUT((reply += socket.readAll()).contains("</html>"), 20000);
    QVERIFY(reply.startsWith("HTTP/1.1 200"));
    QCOMPARE(server.count("GET", "/admin/"), 1);
    socket.close();
    family.reset();
}

void TestNovaFamily::usbLoaderWithoutRpcIsStillOffered()
{
    Sim::NovaRecorder::Options options;
    options.bootloader = true;
    NovaBench bench(options);
    std::unique_ptr<NovaFamily> family(createNovaFamily(m_window.get()));
    QSignalSpy arrived(family.get(), &Family::deviceArrived);
    family->startDiscovery();
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 10000);
    auto* usb =
        dynamic_cast<UsbPotentialDevice*>(family->visibleDevices().front()->primary().get());
    QVERIFY(usb);
    QCOMPARE(usb->bootMode(), uint8_t(10));
    QCOMPARE(usb->metaObject()->className(), "UsbPotentialDevice");
}

void TestNovaFamily::bonjourRecordsMatchTheirRelease_data()
{
    QTest::addColumn<QString>("serviceType");
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("uniqueId");
    QTest::addColumn<bool>("made");
    QTest::newRow("current on http") << "_http._tcp."
                                     << "8.4"
                                     << "be1d"
                                     << "nova-1" << true;
    QTest::newRow("legacy on blockcfg") << "_cvn_blockcfg._tcp."
                                        << "8.2"
                                        << "be1d"
                                        << "nova-1" << true;
    QTest::newRow("legacy on http") << "_http._tcp."
                                    << "8.2"
                                    << "be1d"
                                    << "nova-1" << false;
    QTest::newRow("current on blockcfg") << "_cvn_blockcfg._tcp."
                                         << "8.4"
                                         << "be1d"
                                         << "nova-1" << false;
    QTest::newRow("no trailing dot") << "_http._tcp"
                                     << "8.4"
                                     << "be1d"
                                     << "nova-1" << false;
    QTest::newRow("empty unique id") << "_http._tcp."
                                     << "8.4"
                                     << "be1d"
                                     << "" << false;
    QTest::newRow("no product id") << "_http._tcp."
                                   << "8.4"
                                   << ""
                                   << "nova-1" << false;
}

void TestNovaFamily::bonjourRecordsMatchTheirRelease()
{
    QFETCH(QString, serviceType);
    QFETCH(QString, release);
    QFETCH(QString, productId);
    QFETCH(QString, uniqueId);
    QFETCH(bool, made);
    std::unique_ptr<NovaFamily> family(createNovaFamily(m_window.get()));
    auto manager =
        std::dynamic_pointer_cast<BonjourConnectionManager>(family->connectionManagers().at(1));
    QVERIFY(manager);
    auto txt = Sim::NovaBonjour::novaTxt(uniqueId.toStdString(), release.toStdString());
    if (productId.isEmpty())
        txt.erase("product id");
    const BonjourInfo info = Sim::NovaBonjour::record(serviceType.toStdString(), txt);
    QCOMPARE(bool(makeBonjourPotentialDevice(manager, info)), made);
}

void TestNovaFamily::updaterPerKind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("updater");
    QTest::newRow("usb") << "usb" << QByteArray("DfuUpgradeTask");
    QTest::newRow("network") << "8.4" << QByteArray("HttpUpgradeTask");
    QTest::newRow("legacy network") << "8.3" << QByteArray("BpfuUpdateTask");
    QTest::newRow("8.3.2 network") << "8.3.2" << QByteArray("BpfuUpdateTask");
}

void TestNovaFamily::updaterPerKind()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, updater);
    std::unique_ptr<NovaBench> bench;
    if (kind == "usb")
        bench = std::make_unique<NovaBench>();
    std::unique_ptr<NovaFamily> family(createNovaFamily(m_window.get()));
    // The host's part, a turn of the event loop later.
    const auto resolve = [&family](const BonjourInfo& info, int port) {
        QTimer::singleShot(0, family.get(), [&family, info, port] {
            family->deviceResolved(info, true, "alder.local.", "127.0.0.9", port);
        });
    };
    connect(family.get(), &Family::bonjourResolveRequested, family.get(),
            [resolve](BonjourInfo info) { resolve(info, 8080); });
    connect(family.get(), &Family::bonjourResolveRequestedWithPort, family.get(),
            [resolve](BonjourInfo info, int port) { resolve(info, port); });
    QSignalSpy arrived(family.get(), &Family::deviceArrived);
    if (kind == "usb") {
        family->startDiscovery();
    } else {
        const bool legacy = isLegacyReleaseVersion(kind);
        QVERIFY(family->deviceAdded(
            Sim::NovaBonjour::record(legacy ? "_cvn_blockcfg._tcp." : "_http._tcp.",
                                     Sim::NovaBonjour::novaTxt("nova-1", kind.toStdString()))));
    }
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 10000);
    const QSharedPointer<DeviceFirmwareUpdater> task =
        family->visibleDevices().front()->deviceHandle();
    QVERIFY(task);
    QCOMPARE(task->metaObject()->className(), updater.constData());
}

void TestNovaFamily::buildDetails()
{
    NovaFamily family(QStringLiteral("KestrelNovaWebView"), serviceTypes(), m_window.get());
    family.setBuildInfo("20261211024500", "8.4", "rcab12cd3", QString(40, QLatin1Char('f')));
    auto manager = std::make_shared<TableManager>(QStringLiteral("USB"));
    family.addConnectionManager(manager);
    family.addPotentialDevice(
        std::make_shared<FakeDevice>(manager, "nova-1", PotentialDevice::kEthernet));
    const QString text = family.buildDetails();
    QVERIFY2(text.startsWith("** Plugin Build information\n\n"
                             "\tTime:                20261211024500\n"
                             "\tRC Tag:              8.4rcab12cd3\n"
                             "\tRevision:            ffffffffffffffffffffffffffffffffffffffff\n\n"
                             "** Discovered Devices:\n\n"
                             "\tKestrel Alder One\n"
                             "\tDevice Name:         Stage Left\n"
                             "\tUnique Id:           nova-1\n"
                             "\tProduct Id:          0xbe1d\n"
                             "\tHardware Revision:   0x0100\n"
                             "\tFirmware Build:      8a4c1f02\n"
                             "\tRelease Version:     8.4\n"
                             "\tConnection Type:     Ethernet\n\n"
                             "** Available Firmware:\n\n"
                             "USB Supported Devices:\n\n"
                             "\tKestrel Alder One\n"
                             "\tProduct Id:          0xbe1d\n"),
             qPrintable(text));
    // Every product of the table, in product-id order.
    QVERIFY(text.indexOf("\tKestrel Alder One\n\tProduct Id") <
            text.indexOf("\tKestrel Birch\n\tProduct Id"));
    QVERIFY(text.endsWith("\tProduct Id:          0xbeac\n"
                          "\tHardware Revision:   0x0100\n"
                          "\tFirmware Build:      8a4c1f02\n"
                          "\tRelease Version:     8.4\n\n"));

    NovaFamily usbOnly(QStringLiteral("KestrelNovaWebView"), {}, nullptr);
    QVERIFY(!usbOnly.handlesNetworkDevices());
    QVERIFY(family.handlesNetworkDevices());
}

void TestNovaFamily::pluginRootBuildsTheFamily()
{
    QPluginLoader loader(pluginFolder() + QStringLiteral("/libQuenby.so"));
    QCOMPARE(loader.metaData().value("IID").toString(),
             QStringLiteral("com.corvanedesign.Tendwell.KestrelNovaWebViewPlugin"));
    QCOMPARE(loader.metaData().value("className").toString(),
             QStringLiteral("KestrelNovaWebviewPlugin"));
    QCOMPARE(loader.metaData().value("MetaData").toObject().value("version").toString(),
             QStringLiteral("1.0.0"));
    auto* plugin = qobject_cast<TendwellPlugin*>(loader.instance());
    QVERIFY2(plugin, qPrintable(loader.errorString()));

    QTemporaryDir bare;
    QVERIFY(!plugin->initialize(QDir(bare.path()), nullptr));
    QVERIFY(plugin->families().isEmpty());

    QVERIFY(plugin->initialize(QDir(pluginFolder()), nullptr));
    QCOMPARE(plugin->families().size(), 1);
    Family* family = plugin->families().first();
    QCOMPARE(family->name(), QStringLiteral("KestrelNovaWebView"));
    QCOMPARE(family->serviceNames(), serviceTypes());
    QVERIFY(family->buildDetails().contains("\tRC Tag:              8.4rc"));
    QVERIFY(family->buildDetails().contains("USB Supported Devices:\n\n\tKestrel Alder One\n"));
    QVERIFY(family->buildDetails().contains("Ethernet Supported Devices:\n\n"));
    delete family;

    // Every product's package is carried, and holds an image for that product.
    for (const auto& [productId, record] : supportedProducts())
        QVERIFY2(!getFirmware(record.firmwareFile, productId).isEmpty(),
                 qPrintable(record.firmwareFile));
}

QTEST_MAIN(TestNovaFamily)
#include "tst_novafamily.moc"
