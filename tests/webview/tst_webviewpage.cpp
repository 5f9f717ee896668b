// The device's web page in a real web view, served by the simulated recorder on loopback: the
// page's calls through the published objects reach the desktop, and only well-typed ones do.
#include "answeringrestdevice.h"
#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "loopbacknovadevice.h"
#include "plugins/webview/dialogwebchannelapi.h"
#include "plugins/webview/kestrelnovawebviewsettingspage.h"
#include "plugins/webview/webview.h"
#include "plugins/webview/webviewdialog.h"
#include "plugins/webview/webviewpage.h"
#include "sim/novawebserver/novawebserver.h"
#include "webviewtesting.h"

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QtTest>

class TestWebViewPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<NovaWebServer> m_server;
    std::shared_ptr<AnsweringRestDevice> m_device;
    std::unique_ptr<KestrelNovaWebViewSettingsPage> m_page;

    QWebEnginePage* page() const { return m_page->view()->page(); }
    static void call(QWebEnginePage* page, const QString& script)
    {
        QCOMPARE(runScript(page, "(function(){" + script + "; return 1;})()"), QVariant(1));
        // Channel calls are asynchronous: a round trip of a property read lets them arrive.
        QVERIFY(waitForChannel(page, 2000));
        QTest::qWait(150);
    }

    // The dialog window the settings page's script opens, once the dialog's page has sized it.
    WebViewDialog* openDialog(const QString& script)
    {
        runScript(page(), script);
        WebViewDialog* dialog = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] {
                dialog = m_page->view()->findChild<WebViewDialog*>();
                return dialog && dialog->isVisible();
            },
            10000);
        return shown ? dialog : nullptr;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<NovaWebServer>();
        QVERIFY(m_server->listen());
        m_device = std::make_shared<AnsweringRestDevice>(
            nullptr, std::make_shared<LoopbackNovaDevice>(m_server->port()));
        m_page = std::make_unique<KestrelNovaWebViewSettingsPage>(nullptr, m_device);
        m_page->resize(800, 600);
        m_page->show();
        QSignalSpy ready(m_page.get(), &WebViewSettingsPage::webViewReadyStateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(m_page->view()->isReady(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(
            runScript(page(), "window.webChannelObjects !== undefined && "
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
        QCOMPARE(
            runScript(page(), "Object.keys(window.webChannelObjects).sort().join(',')").toString(),
            QStringLiteral("CommonDeviceAPI,NetworkAccessAPI"));
        QCOMPARE(runScript(page(), "window.willReceiveWebChannel").toBool(), true);
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
        runScript(page(), "document.getElementById('name').value = 'Studio B'");
        m_page->footer()->saveButton()->click();
        QVERIFY(renamed.wait(5000));
        QCOMPARE(runScript(page(), "document.getElementById('status').textContent").toString(),
                 QStringLiteral("saved"));
    }

    void pageCallsReachTheDesktop()
    {
        QSignalSpy hostname(m_device.get(),
                            &VornOSRESTConfigurationServerDevice::deviceHostnameChanged);
        call(page(), "webChannelObjects.CommonDeviceAPI.setDeviceHostname('nova-b')");
        QTRY_COMPARE(m_device->hostname(), QStringLiteral("nova-b"));
        call(page(), "webChannelObjects.NetworkAccessAPI.copyToClipboard('NOVA-0001')");
        QTRY_COMPARE(QGuiApplication::clipboard()->text(QClipboard::Clipboard),
                     QStringLiteral("NOVA-0001"));
        call(page(), "webChannelObjects.NetworkAccessAPI.openUrl('https://example.invalid/help')");
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
        const QStringList warnings =
            warningsDuring([&] { call(page(), "webChannelObjects." + script); });
        QVERIFY2(warnings.filter(QRegularExpression(message)).size() == 1,
                 qPrintable(warnings.join('\n')));
        QCOMPARE(renamed.count(), 0);
        QVERIFY(m_device->opened.isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    }

    void dialogTakesTheSizeThePageAsksFor_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QSize>("maximum");
        // The admin page's About button asks for 400 x 300, resizable up to 640 x 480.
        QTest::newRow("resizable") << "document.getElementById('about').click()" << QSize(640, 480);
        QTest::newRow("no maxima: fixed")
            << "window.open('dialog.html', 'about', 'width=400,height=300')" << QSize(400, 300);
        QTest::newRow("maxima below the size: fixed")
            << "window.open('dialog.html?maxWidth=200&maxHeight=100', 'about', "
               "'width=400,height=300')"
            << QSize(400, 300);
    }

    void dialogTakesTheSizeThePageAsksFor()
    {
        QFETCH(QString, script);
        QFETCH(QSize, maximum);
        m_page->move(100, 80);
        WebViewDialog* dialog = openDialog(script);
        QVERIFY(dialog);
        QCOMPARE(dialog->minimumSize(), QSize(400, 300));
        QCOMPARE(dialog->maximumSize(), maximum);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QTRY_COMPARE(dialog->windowTitle(), QStringLiteral("About Nova"));
        // Centred on the window, give or take the window frame.
        const QPoint offset = dialog->geometry().center() - m_page->geometry().center();
        QVERIFY2(qAbs(offset.x()) <= 4 && qAbs(offset.y()) <= 4,
                 qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        QTest::qWait(300); // let the page paint
        QVERIFY(saveShot(dialog, QStringLiteral("webview-dialog-") + QTest::currentDataTag()));
    }

    void badDialogSizesAreRefusedWithAMessage_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("width a string") << "DialogAPI.maxDialogWidth = '900'"
                                        << "^DialogAPI.maxDialogWidth: refused";
        QTest::newRow("width missing") << "DialogAPI.maxDialogWidth = null"
                                       << "^DialogAPI.maxDialogWidth: refused";
        QTest::newRow("height a fraction") << "DialogAPI.maxDialogHeight = 700.5"
                                           << "^DialogAPI.maxDialogHeight: refused";
        QTest::newRow("height beyond an int") << "DialogAPI.maxDialogHeight = 1e12"
                                              << "^DialogAPI.maxDialogHeight: refused";
        QTest::newRow("height an object") << "DialogAPI.maxDialogHeight = {height: 700}"
                                          << "^DialogAPI.maxDialogHeight: refused";
    }

    void badDialogSizesAreRefusedWithAMessage()
    {
        QFETCH(QString, script);
        QFETCH(QString, message);
        WebViewDialog* dialog = openDialog("document.getElementById('about').click()");
        QVERIFY(dialog);
        QSignalSpy width(dialog->api(), &DialogWebChannelAPI::onMaxDialogWidthChanged);
        QSignalSpy height(dialog->api(), &DialogWebChannelAPI::onMaxDialogHeightChanged);
        const QStringList warnings =
            warningsDuring([&] { call(dialog->view()->page(), "webChannelObjects." + script); });
        QVERIFY2(warnings.filter(QRegularExpression(message)).size() == 1,
                 qPrintable(warnings.join('\n')));
        QCOMPARE(width.count() + height.count(), 0);
        QCOMPARE(dialog->maximumSize(), QSize(640, 480));
        // The page reads the numbers it last set again once the channel has answered the
        // refused write (the page's own copy holds the bad value until then).
        QTRY_COMPARE_WITH_TIMEOUT(runScript(dialog->view()->page(),
                                            "webChannelObjects.DialogAPI.maxDialogWidth + 'x' + "
                                            "webChannelObjects.DialogAPI.maxDialogHeight")
                                      .toString(),
                                  QStringLiteral("640x480"), 10000);
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
