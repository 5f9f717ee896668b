// The web-view recorder's card with the simulated recorder's page, end to end on loopback.
#include "framework/connectingstatuspage.h"
#include "plugins/webview/connectionmanager.h"
#include "plugins/webview/kestrelnovawebviewconnecteddevice.h"
#include "plugins/webview/novaproductcard.h"
#include "plugins/webview/novavisibledevice.h"
#include "plugins/webview/potentialdevice.h"
#include "plugins/webview/webview.h"
#include "plugins/webview/webviewsettingspage.h"
#include "sim/novawebserver/novawebserver.h"

#include <QDir>
#include <QStackedWidget>
#include <QtTest>

namespace {

// Makes the plug-in's connected device for whatever reaches the simulated recorder.
class LoopbackManager : public ConnectionManager
{
public:
    LoopbackManager()
        : ConnectionManager("Test", nullptr, supportedProducts())
    {
    }
    std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice* visible,
                                                           PotentialDevice* device) override
    {
        ++made;
        return std::make_shared<KestrelNovaWebViewConnectedDevice>(visible, shared(device));
    }
    QSharedPointer<DeviceFirmwareUpdater> createFirmwareUpdater(NovaVisibleDevice*,
                                                                PotentialDevice*) override
    {
        return nullptr;
    }
    std::function<std::shared_ptr<PotentialDevice>(PotentialDevice*)> shared;
    int made = 0;
};

class LoopbackDevice : public PotentialDevice
{
public:
    LoopbackDevice(const std::shared_ptr<ConnectionManager>& manager, quint16 port)
        : PotentialDevice(manager)
        , m_port(port)
    {
    }
    uint16_t productId() override { return 0xBE1D; }
    uint16_t hardwareRevision() override { return 0x100; }
    QString uniqueId() override { return QStringLiteral("nova-1"); }
    QString name() override { return QStringLiteral("Studio A"); }
    QString firmwareBuild() override { return QStringLiteral("8a4c1f02"); }
    QString releaseVersion() override { return QStringLiteral("8.4"); }
    int connectionType() override { return kEthernet; }
    void requestResolve() override {}
    std::string host() override { return "127.0.0.1"; }
    uint16_t port() override { return m_port; }
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return false; }
    uint16_t priority() override { return 20; }

private:
    quint16 m_port;
};

void saveShot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/../screenshots";
    QDir().mkpath(folder);
    QVERIFY(window->grab().save(folder + "/" + name + ".png"));
}

} // namespace

class TestNovaProductCard : public QObject
{
    Q_OBJECT

    std::unique_ptr<NovaWebServer> m_server;
    std::shared_ptr<LoopbackManager> m_manager;
    std::shared_ptr<PotentialDevice> m_device;
    std::unique_ptr<NovaVisibleDevice> m_visible;
    std::unique_ptr<QWidget> m_window;

    template<typename Page> Page* shown(NovaProductCard* card)
    {
        return qobject_cast<Page*>(card->pages()->currentWidget());
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<NovaWebServer>();
        QVERIFY(m_server->listen());
        m_manager = std::make_shared<LoopbackManager>();
        m_device = std::make_shared<LoopbackDevice>(m_manager, m_server->port());
        m_manager->shared = [this](PotentialDevice*) { return m_device; };
        m_visible = std::make_unique<NovaVisibleDevice>(nullptr, m_device);
        m_window = std::make_unique<QWidget>();
        m_window->setStyleSheet("background: #2b2d30;");
        m_window->resize(1100, 760);
        m_window->show();
    }

    void cleanup()
    {
        m_window.reset();
        m_visible.reset();
        m_device.reset();
        m_manager.reset();
        m_server.reset();
    }

    void showsTheDevicePageOnceConnected()
    {
        auto* card = new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        card->show();
        QVERIFY(shown<ConnectingStatusPage>(card));
        saveShot(m_window.get(), "webview-card-connecting");
        QTRY_VERIFY_WITH_TIMEOUT(shown<WebViewSettingsPage>(card), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->count("GET", "/admin/") >= 1 &&
                                     shown<WebViewSettingsPage>(card) &&
                                     shown<WebViewSettingsPage>(card)->view()->isReady(),
                                 10000);
        QTest::qWait(500); // let the page paint
        saveShot(m_window.get(), "webview-card-settings");
        QStringList actions;
        for (QAction* action : card->deviceActionsMenu()->actions())
            if (!action->isSeparator())
                actions << action->text();
        QCOMPARE(actions, QStringList({"Force Update", "Download Diagnostic Logs",
                                       "Erase Diagnostic Logs", "Open In Browser"}));
    }

    void aNameChangeOnThePageShowsInTheCard()
    {
        auto* card = new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        card->show();
        QTRY_VERIFY_WITH_TIMEOUT(shown<WebViewSettingsPage>(card) &&
                                     shown<WebViewSettingsPage>(card)->view()->isReady(),
                                 15000);
        QWebEnginePage* page = shown<WebViewSettingsPage>(card)->view()->page();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->count("GET", "/admin/") >= 1, 5000);
        bool done = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                page->runJavaScript("window.webChannelObjects !== undefined",
                                    [&](const QVariant& v) { done = v.toBool(); });
                return done;
            }(),
            10000);
        page->runJavaScript("webChannelObjects.CommonDeviceAPI.setDeviceName('Studio B')");
        QTRY_COMPARE_WITH_TIMEOUT(m_visible->displayName(), QStringLiteral("Studio B"), 5000);
        QTest::qWait(300);
        saveShot(m_window.get(), "webview-card-renamed");
    }

    void interruptedCardRetriesUntilConnectedAgain()
    {
        auto* card = new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        card->show();
        QTRY_VERIFY_WITH_TIMEOUT(shown<WebViewSettingsPage>(card), 15000);
        const auto first = card->connectedDevice();

        m_server->setMode(NovaWebServer::Mode::Refuse);
        QTRY_VERIFY_WITH_TIMEOUT(shown<ConnectingStatusPage>(card), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(first->state(), int(Interrupted), 10000);
        QVERIFY(card->retryTimer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(card->connectedDevice() != first, 3000);

        m_server->setMode(NovaWebServer::Mode::Normal);
        QTRY_VERIFY_WITH_TIMEOUT(shown<WebViewSettingsPage>(card), 15000);
        QTRY_VERIFY(!card->retryTimer()->isActive());
    }

    void cardWithoutAConnectedDeviceKeepsTrying()
    {
        // A potential device whose manager is gone makes no connected device.
        auto orphan = std::make_shared<LoopbackDevice>(nullptr, m_server->port());
        NovaVisibleDevice visible(nullptr, orphan);
        auto* card = new NovaProductCard(&visible, m_window.get(), QColor(254, 167, 1));
        QVERIFY(!card->connectedDevice());
        QVERIFY(shown<ConnectingStatusPage>(card));
        QVERIFY(card->retryTimer()->isActive());
        delete card;
    }

    void detailsReport()
    {
        auto* card = new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        const QString report = card->deviceDetails();
        QVERIFY2(report.contains("\tProduct Id:          0xbe1d\n"), qPrintable(report));
        QVERIFY(report.contains("\tHardware Revision:   0x0100\n"));
        QVERIFY(report.startsWith("** Device Information:\n\n"));
        QVERIFY(report.contains("\n** Available Firmware:\n\n"));
        QVERIFY(report.contains("\tConnection Type:     Ethernet\n"));
    }
};

QTEST_MAIN(TestNovaProductCard)
#include "tst_novaproductcard.moc"
