#include "announcer.h"
#include "pluginwindow.h"
#include "privatenetwork.h"

#include "framework/contract/devicelist.h"
#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"
#include "sim/blockrecorder/blockrecorder.h"
#include "sim/blockrecorder/firmwareupdatepeer.h"
#include "sim/firmwarehttp/firmwarehttpserver.h"
#include "sim/novarecorder/novarecorder.h"
#include "sim/novawebserver/novawebserver.h"
#include "sim/usbbus/usbbus.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QtTest>

#include <memory>

namespace {

// Generous: the sanitizers slow the web engine, and an update waits for the recorder's reboot.
constexpr int kWaitMs = 90000;

using PluginWindow::findByClass;
using PluginWindow::saveScreenshot;
using PluginWindow::showsText;
using PluginWindow::visibleButton;

// The TXT values of a network recorder of the first model, as it announces them.
QVariantMap novaTxt(const QString& uniqueId, const QString& release,
                    const QString& build = QStringLiteral("8A4C1F02"))
{
    return {{"product id", "be1d"},      {"unique id", uniqueId},
            {"hw version", "100"},       {"device name", "Stage " + uniqueId},
            {"internal version", build}, {"release version", release}};
}

std::unique_ptr<MainWindow> openWindow()
{
    // The program's own DNS-SD and a web engine: the window as the user gets it.
    MainWindow::Options options;
    auto window = PluginWindow::open(PluginWindow::pluginFolder(QStringLiteral("Quenby")), options);
    window->show();
    return window;
}

// A recorder of an earlier row may still be listed until its goodbye arrives, so rows look
// devices up by what they are, never by counting.
bool isNetworkRecorder(VisibleDevice* device, const QString& uniqueId)
{
    return device->displayName() == "Stage " + uniqueId;
}

bool isUsbRecorder(VisibleDevice* device)
{
    return device->isUsbDevice();
}

// The window's device that matches, or null when the window has not started or lists none.
template<class Match> VisibleDevice* findDevice(MainWindow& window, Match match)
{
    for (int i = 0; window.isStarted() && i < window.deviceList()->count(); ++i) {
        if (match(window.deviceList()->deviceAt(i)))
            return window.deviceList()->deviceAt(i);
    }
    return nullptr;
}

template<class Match> VisibleDevice* waitForDevice(MainWindow& window, Match match)
{
    return QTest::qWaitFor([&] { return findDevice(window, match) != nullptr; }, kWaitMs)
               ? findDevice(window, match)
               : nullptr;
}

template<class Match> QString listedVersion(MainWindow& window, Match match)
{
    VisibleDevice* device = findDevice(window, match);
    return device ? device->softwareVersion() : QString();
}

VisibleDevice* networkDevice(MainWindow& window, const QString& uniqueId)
{
    return waitForDevice(window, [&](VisibleDevice* d) { return isNetworkRecorder(d, uniqueId); });
}

VisibleDevice* usbDevice(MainWindow& window)
{
    return waitForDevice(window, isUsbRecorder);
}

// The card's "Force Update", as the user picks it from the card's menu.
bool pickForceUpdate(QWidget* card)
{
    for (QMenu* menu : card->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (action->text() == QLatin1String("Force Update") && action->isEnabled()) {
                action->trigger();
                return true;
            }
        }
    }
    return false;
}

// Opens the device's card and forces an update from it.
bool forceUpdateFromCard(MainWindow& window, VisibleDevice* device)
{
    window.families().first()->showDevice(device);
    QWidget* card = findByClass(&window, "NovaProductCard");
    return card && QTest::qWaitFor([card] { return pickForceUpdate(card); }, kWaitMs);
}

// Confirms the update the card asked for and waits until it is done and the card is back.
bool runUpdate(MainWindow& window)
{
    if (!QTest::qWaitFor([&] { return visibleButton(&window, QStringLiteral("Update")); }, kWaitMs))
        return false;
    QTest::mouseClick(visibleButton(&window, QStringLiteral("Update")), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return showsText(&window, QStringLiteral("Update Complete!")); },
                         kWaitMs))
        return false;
    QTest::mouseClick(visibleButton(&window, QStringLiteral("Done")), Qt::LeftButton);
    return QTest::qWaitFor([&] { return findByClass(&window, "NovaProductCard"); }, kWaitMs);
}

} // namespace

// The program with the built Quenby plug-in, in a network of its own: network recorders
// announced by a real multicast DNS responder, USB recorders on the simulated bus.
class TestWebViewProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void networkRecorderOpensItsAdminPage();
    void usbRecorderOpensItsPageThroughTheTunnel();
    void usbRecorderUpdatesOverDfu();
    void legacyRecorderUpdatesOverTheBlockProtocol();
    void networkRecorderUpdatesOverHttp();

private:
    std::unique_ptr<Announcer> m_announcer;
};

void TestWebViewProgram::initTestCase()
{
    QVERIFY(PluginWindow::loadBranding(QStringLiteral("PellworthTest-webview")));
    QVERIFY(QFileInfo::exists(PluginWindow::pluginFolder(QStringLiteral("Quenby")) +
                              "/Resources/data-be1d.bin"));
    SKIP_WITHOUT_PRIVATE_NETWORK();
    m_announcer = std::make_unique<Announcer>();
    const QString failure = m_announcer->start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestWebViewProgram::cleanup()
{
    Sim::UsbBus::instance().reset();
}

void TestWebViewProgram::networkRecorderOpensItsAdminPage()
{
    NovaWebServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 80));
    QVERIFY(m_announcer->registerService("Alder Net", novaTxt("net1", "8.4"), 80, "aldernet",
                                         "_http._tcp", "127.0.0.1"));
    auto window = openWindow();
    VisibleDevice* device = networkDevice(*window, "net1");
    QVERIFY(device);
    QVERIFY(!device->isUsbDevice());

    window->families().first()->showDevice(device);
    QVERIFY(findByClass(window.get(), "NovaProductCard"));
    QTRY_VERIFY_WITH_TIMEOUT(server.count("GET", "/admin/") > 0, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(window.get(), "WebView") &&
                                 findByClass(window.get(), "WebView")->isVisible(),
                             kWaitMs);
    QTest::qWait(1500);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("webview_network_card.png")));
    QVERIFY(m_announcer->unregisterService("Alder Net", "_http._tcp"));
}

void TestWebViewProgram::usbRecorderOpensItsPageThroughTheTunnel()
{
    // The simulated recorder relays its tunnel to loopback's first address.
    NovaWebServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    auto recorder = std::make_shared<Sim::NovaRecorder>();
    // The build the plug-in carries: the card opens without an update.
    recorder->keyValue().setValue("BuildId", "8A4C1F02");
    recorder->tunnel().mapPort(80, server.port());
    Sim::UsbBus::instance().plug(recorder);

    auto window = openWindow();
    VisibleDevice* device = usbDevice(*window);
    QVERIFY(device);
    window->families().first()->showDevice(device);
    QVERIFY(findByClass(window.get(), "NovaProductCard"));
    QTRY_VERIFY_WITH_TIMEOUT(server.count("GET", "/admin/") > 0, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(window.get(), "WebView") &&
                                 findByClass(window.get(), "WebView")->isVisible(),
                             kWaitMs);
    QTest::qWait(1500);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("webview_usb_card.png")));
}

void TestWebViewProgram::usbRecorderUpdatesOverDfu()
{
    NovaWebServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    Sim::NovaRecorder::Options options;
    options.valuesAfterInstall = {{"ReleaseVersion", "8.4"}};
    auto recorder = std::make_shared<Sim::NovaRecorder>(options);
    recorder->keyValue().setValue("BuildId", "8A4C1F02");
    recorder->keyValue().setValue("ReleaseVersion", "8.3.9");
    recorder->tunnel().mapPort(80, server.port());
    Sim::UsbBus::instance().plug(recorder);

    auto window = openWindow();
    VisibleDevice* device = usbDevice(*window);
    QVERIFY(device);
    QCOMPARE(device->softwareVersion(), QStringLiteral("8.3.9"));
    QVERIFY(forceUpdateFromCard(*window, device));
    QVERIFY(runUpdate(*window));
    QCOMPARE(recorder->dfu().installs(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(listedVersion(*window, isUsbRecorder), QStringLiteral("8.4"),
                              kWaitMs);
    // The reopened card reaches the page of the unit that came back.
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(window.get(), "WebView") &&
                                 findByClass(window.get(), "WebView")->isVisible(),
                             kWaitMs);
    QTest::qWait(1000);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("webview_usb_updated.png")));
}

void TestWebViewProgram::legacyRecorderUpdatesOverTheBlockProtocol()
{
    BlockRecorder recorder;
    QVERIFY(recorder.listen(QHostAddress(QStringLiteral("127.0.0.5"))));
    auto* peer = new FirmwareUpdatePeer(&recorder);
    QVERIFY(m_announcer->registerService("Alder Legacy", novaTxt("legacy1", "8.2"), recorder.port(),
                                         "alderlegacy", "_cvn_blockcfg._tcp", "127.0.0.5"));
    auto window = openWindow();
    VisibleDevice* device = networkDevice(*window, "legacy1");
    QVERIFY(device);
    QVERIFY(device->isLegacy());
    QVERIFY(forceUpdateFromCard(*window, device));
    connect(&recorder, &BlockRecorder::blockReceived, this,
            [this, &recorder](const BlockRecorder::ReceivedBlock& block) {
                if (block.name == "FIRMWARE UPDATE")
                    m_announcer->updateService("Alder Legacy", novaTxt("legacy1", "8.3"),
                                               recorder.port(), "alderlegacy", "_cvn_blockcfg._tcp",
                                               "127.0.0.5");
            });
    QVERIFY(runUpdate(*window));
    QCOMPARE(peer->reboots(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(device->softwareVersion(), QStringLiteral("8.3"), kWaitMs);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("webview_block_updated.png")));
    QVERIFY(m_announcer->unregisterService("Alder Legacy", "_cvn_blockcfg._tcp"));
}

void TestWebViewProgram::networkRecorderUpdatesOverHttp()
{
    // A current release: updated through its REST firmware endpoints on port 80. After the
    // reboot the task finds the recorder again through DNS-SD.
    FirmwareHttpServer recorder;
    QVERIFY(recorder.listen(QHostAddress(QStringLiteral("127.0.0.6")), 80));
    QVERIFY(m_announcer->registerService("Alder Http", novaTxt("http1", "8.4"), 80, "alderhttp",
                                         "_http._tcp", "127.0.0.6"));
    auto window = openWindow();
    VisibleDevice* device = networkDevice(*window, "http1");
    QVERIFY(device);
    QVERIFY(!device->isLegacy());
    QCOMPARE(device->softwareVersion(), QStringLiteral("8.4"));
    QVERIFY(forceUpdateFromCard(*window, device));
    // The recorder is away for one version query after the finalize; the task reaches it
    // again only by resolving it anew. Back, it announces its new release.
    recorder.setRebootQueries(1);
    int queriesAfterFinalize = -1;
    connect(&recorder, &FirmwareHttpServer::requestReceived, this,
            [this, &queriesAfterFinalize](const QByteArray& method, const QByteArray& path) {
                if (method == "PUT" && path.endsWith("/updateFinalize"))
                    queriesAfterFinalize = 0;
                else if (method == "GET" && path.endsWith("/info") && queriesAfterFinalize >= 0 &&
                         ++queriesAfterFinalize == 2)
                    m_announcer->updateService("Alder Http", novaTxt("http1", "8.5"), 80,
                                               "alderhttp", "_http._tcp", "127.0.0.6");
            });
    QVERIFY(runUpdate(*window));
    QVERIFY(recorder.paths().contains("PUT /v1/firmware/updateFinalize"));
    QVERIFY(!recorder.uploaded().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(
        listedVersion(*window, [](VisibleDevice* d) { return isNetworkRecorder(d, "http1"); }),
        QStringLiteral("8.5"), kWaitMs);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("webview_http_updated.png")));
    QVERIFY(m_announcer->unregisterService("Alder Http", "_http._tcp"));
}

int main(int argc, char** argv)
{
    // Before any thread starts: the window and the announcer stay off the machine's network.
    PrivateNetwork::enter();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestWebViewProgram test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_program.moc"
