// The device's web page in a real web view, served by the simulated recorder on loopback: the
// page's calls through the published objects reach the desktop, and only well-typed ones do.
#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "plugins/webview/dialogwebchannelapi.h"
#include "plugins/webview/kestrelnovawebviewsettingspage.h"
#include "plugins/webview/potentialdevice.h"
#include "plugins/webview/vornosrestconfigurationserverdevice.h"
#include "plugins/webview/webview.h"
#include "plugins/webview/webviewpage.h"
#include "sim/novawebserver/novawebserver.h"

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QtTest>

namespace {

class LoopbackDevice : public PotentialDevice
{
public:
    explicit LoopbackDevice(quint16 port)
        : PotentialDevice(nullptr)
        , m_port(port)
    {
    }
    uint16_t productId() override { return 0xbe1d; }
    uint16_t hardwareRevision() override { return 0x100; }
    QString uniqueId() override { return QStringLiteral("nova-1"); }
    QString name() override { return QStringLiteral("Studio A"); }
    QString firmwareBuild() override { return QStringLiteral("abc"); }
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

class RestDevice : public VornOSRESTConfigurationServerDevice
{
public:
    using VornOSRESTConfigurationServerDevice::VornOSRESTConfigurationServerDevice;
    void populateCard(NovaProductCard*) override {}
    QList<QUrl> opened;

protected:
    bool openInDesktop(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }
};

QVariant run(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        return QStringLiteral("<no answer>");
    return result;
}

} // namespace

class TestWebViewPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<NovaWebServer> m_server;
    std::shared_ptr<RestDevice> m_device;
    std::unique_ptr<KestrelNovaWebViewSettingsPage> m_page;

    QWebEnginePage* page() const { return m_page->view()->page(); }
    void call(const QString& script)
    {
        QCOMPARE(run(page(), "(function(){" + script + "; return 1;})()"), QVariant(1));
        // Channel calls are asynchronous: a round trip of a property read lets them arrive.
        QVERIFY(QTest::qWaitFor(
            [&] { return run(page(), "window.webChannelObjects !== undefined").toBool(); }, 2000));
        QTest::qWait(150);
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<NovaWebServer>();
        QVERIFY(m_server->listen());
        m_device = std::make_shared<RestDevice>(nullptr,
                                                std::make_shared<LoopbackDevice>(m_server->port()));
        m_page = std::make_unique<KestrelNovaWebViewSettingsPage>(nullptr, m_device);
        m_page->resize(800, 600);
        m_page->show();
        QSignalSpy ready(m_page.get(), &WebViewSettingsPage::webViewReadyStateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(m_page->view()->isReady(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(run(page(),
                                     "window.webChannelObjects !== undefined && "
                                     "document.getElementById('status').textContent == 'connected'")
                                     .toBool(),
                                 10000);
    }

    void cleanup()
    {
        m_page.reset();
        m_device.reset();
        m_server.reset();
    }

    void pageSeesThePublishedObjects()
    {
        QCOMPARE(run(page(), "Object.keys(window.webChannelObjects).sort().join(',')").toString(),
                 QStringLiteral("CommonDeviceAPI,NetworkAccessAPI"));
        QCOMPARE(run(page(), "window.willReceiveWebChannel").toBool(), true);
    }

    void channelScriptsAreInsertedOncePerProfile()
    {
        KestrelNovaWebViewSettingsPage second(nullptr, m_device);
        QWebEngineScriptCollection* scripts = page()->profile()->scripts();
        QCOMPARE(scripts->find(":/qtwebchannel/qwebchannel.js").size(), 1);
        QCOMPARE(scripts->find(":/WebView/webChannel.js").size(), 1);
        QCOMPARE(scripts->find(":/WebView/willReceiveWebChannel.js").size(), 1);
    }

    void footerSaveReachesThePageAndTheNameComesBack()
    {
        QSignalSpy renamed(m_device.get(), &VornOSRESTConfigurationServerDevice::deviceNameChanged);
        run(page(), "document.getElementById('name').value = 'Studio B'");
        m_page->footer()->saveButton()->click();
        QVERIFY(renamed.wait(5000));
        QCOMPARE(run(page(), "document.getElementById('status').textContent").toString(),
                 QStringLiteral("saved"));
    }

    void pageCallsReachTheDesktop()
    {
        QSignalSpy hostname(m_device.get(),
                            &VornOSRESTConfigurationServerDevice::deviceHostnameChanged);
        call("webChannelObjects.CommonDeviceAPI.setDeviceHostname('nova-b')");
        QTRY_COMPARE(m_device->hostname(), QStringLiteral("nova-b"));
        call("webChannelObjects.NetworkAccessAPI.copyToClipboard('NOVA-0001')");
        QTRY_COMPARE(QGuiApplication::clipboard()->text(QClipboard::Clipboard),
                     QStringLiteral("NOVA-0001"));
        call("webChannelObjects.NetworkAccessAPI.openUrl('https://example.invalid/help')");
        QTRY_COMPARE(m_device->opened, QList<QUrl>{QUrl("https://example.invalid/help")});
    }

    void badCallsAreRefusedWithAMessage_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("file url") << "NetworkAccessAPI.openUrl('file:///etc/passwd')"
                                  << "^Invalid URL specified to open: file:///etc/passwd";
        QTest::newRow("url not a string") << "NetworkAccessAPI.openUrl({href: 1})"
                                          << "^NetworkAccessAPI.openUrl: refused";
        QTest::newRow("name a number") << "CommonDeviceAPI.setDeviceName(42)"
                                       << "^CommonDeviceAPI.setDeviceName: refused";
        QTest::newRow("name missing") << "CommonDeviceAPI.setDeviceName()"
                                      << "CommonDeviceAPI.setDeviceName|argument";
        QTest::newRow("clipboard null") << "NetworkAccessAPI.copyToClipboard(null)"
                                        << "^NetworkAccessAPI.copyToClipboard: refused";
    }

    void badCallsAreRefusedWithAMessage()
    {
        QFETCH(QString, script);
        QFETCH(QString, message);
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        QSignalSpy renamed(m_device.get(), &VornOSRESTConfigurationServerDevice::deviceNameChanged);
        QStringList warnings;
        static QStringList* sink;
        sink = &warnings;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& text) {
                if (type == QtWarningMsg)
                    sink->append(text);
            });
        call("webChannelObjects." + script);
        QTest::qWait(300);
        qInstallMessageHandler(previous);
        QVERIFY2(warnings.filter(QRegularExpression(message)).size() == 1,
                 qPrintable(warnings.join('\n')));
        QCOMPARE(renamed.count(), 0);
        QVERIFY(m_device->opened.isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    }

    void failedLoadRestartsTheReloadTimer()
    {
        QVERIFY(!m_page->reloadTimer()->isActive());
        m_server->setMode(NovaWebServer::Mode::Refuse);
        QSignalSpy ready(m_page->view(), &WebView::readyStateChanged);
        m_page->view()->reload();
        QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && !ready.last().first().toBool(), 10000);
        QVERIFY(m_page->reloadTimer()->isActive());
        m_server->setMode(NovaWebServer::Mode::Normal);
        QTRY_VERIFY_WITH_TIMEOUT(m_page->view()->isReady(), 10000);
    }

    void fileFilterOfAcceptedTypes()
    {
        QCOMPARE(WebViewPage::fileFilter({".bin", ".cfg"}),
                 QStringLiteral("Supported File Types (*.bin *.cfg);;All File Types (*)"));
        QCOMPARE(WebViewPage::fileFilter({}), QStringLiteral("All File Types (*)"));
    }

    void dialogApiNotifiesOnlyOnChange()
    {
        DialogWebChannelAPI api;
        QSignalSpy width(&api, &DialogWebChannelAPI::onMaxDialogWidthChanged);
        api.setMaxDialogWidth(800);
        api.setMaxDialogWidth(800);
        QCOMPARE(width.count(), 1);
    }
};

QTEST_MAIN(TestWebViewPage)
#include "tst_webviewpage.moc"
