// The web-view recorder's card with the simulated recorder's page, end to end on loopback.
#include "framework/connectingstatuspage.h"
#include "loopbacknovadevice.h"
#include "plugins/webview/connectionmanager.h"
#include "plugins/webview/kestrelnovawebviewconnecteddevice.h"
#include "plugins/webview/novaproductcard.h"
#include "plugins/webview/novavisibledevice.h"
#include "plugins/webview/potentialdevice.h"
#include "plugins/webview/webview.h"
#include "plugins/webview/webviewsettingspage.h"
#include "sim/novawebserver/novawebserver.h"
#include "webviewtesting.h"

#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
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

    static QPushButton* button(QDialog* dialog, const QString& text)
    {
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == text)
                return button;
        return nullptr;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<NovaWebServer>();
        QVERIFY(m_server->listen());
        m_manager = std::make_shared<LoopbackManager>();
        m_device = std::make_shared<LoopbackNovaDevice>(m_server->port(),
                                                        PotentialDevice::kEthernet, m_manager);
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
        QVERIFY(saveShot(m_window.get(), "webview-card-connecting"));
        QTRY_VERIFY_WITH_TIMEOUT(shown<WebViewSettingsPage>(card), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->count("GET", "/admin/") >= 1 &&
                                     shown<WebViewSettingsPage>(card) &&
                                     shown<WebViewSettingsPage>(card)->view()->isReady(),
                                 10000);
        QTest::qWait(500); // let the page paint
        QVERIFY(saveShot(m_window.get(), "webview-card-settings"));
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
        QVERIFY(waitForChannel(page));
        page->runJavaScript("webChannelObjects.CommonDeviceAPI.setDeviceName('Studio B')");
        QTRY_COMPARE_WITH_TIMEOUT(m_visible->displayName(), QStringLiteral("Studio B"), 5000);
        QTest::qWait(300);
        QVERIFY(saveShot(m_window.get(), "webview-card-renamed"));
    }

    // A page that closes its window closes the card it is placed in; the window the card is
    // drawn in (the program's) stays open. A page may close itself only while it has no history
    // to go back to, so neither the loads the card retried nor the page's own navigation may
    // leave any.
    void thePageClosingItsWindowClosesOnlyTheCard_data()
    {
        QTest::addColumn<bool>("movesOn");
        QTest::newRow("first page") << false;
        QTest::newRow("after the page moved on") << true;
    }
    void thePageClosingItsWindowClosesOnlyTheCard()
    {
        QFETCH(bool, movesOn);
        m_server->setAdminPage(QByteArray(R"(<!DOCTYPE html><html><body><script>
var movesOn = )") + (movesOn ? "true" : "false") + R"(;
function ready() {
  if (movesOn && location.search === '') {
    window.onload = function () { setTimeout(function () { location.href = '?next'; }, 200); };
    return;
  }
  var common = window.webChannelObjects ? window.webChannelObjects['CommonDeviceAPI'] : null;
  if (!common) { setTimeout(ready, 100); return; }
  common.settingsCancelClicked.connect(function () { window.close(); });
  window.cancelCloses = true;
}
ready();
</script></body></html>)");
        const QPointer<NovaProductCard> card =
            new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        card->show();
        QTRY_VERIFY_WITH_TIMEOUT(shown<WebViewSettingsPage>(card) &&
                                     shown<WebViewSettingsPage>(card)->view()->isReady(),
                                 15000);
        WebViewSettingsPage* settings = shown<WebViewSettingsPage>(card);
        QWebEnginePage* page = settings->view()->page();
        QVERIFY(QTest::qWaitFor(
            [page] { return runScript(page, "window.cancelCloses === true").toBool(); }, 10000));
        QPushButton* cancel = nullptr;
        for (QPushButton* b : settings->findChildren<QPushButton*>())
            if (b->text() == QLatin1String("Cancel") && b->isVisible())
                cancel = b;
        QVERIFY(cancel);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!card, 10000);
        QVERIFY(m_window->isVisible());
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
        auto orphan = std::make_shared<LoopbackNovaDevice>(m_server->port());
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

    void detailsWindowShowsTheReportWithTheDeviceActions()
    {
        auto* card = new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        card->show();
        const std::unique_ptr<QDialog> dialog(card->createDeviceDetailsDialog());
        QCOMPARE(dialog->parentWidget(), m_window.get());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
        QVERIFY(dialog->isSizeGripEnabled());

        auto* report = dialog->findChild<QLabel*>();
        QVERIFY(report);
        QCOMPARE(report->text(), card->deviceDetails());
        QVERIFY(QFontInfo(report->font()).fixedPitch());
        QCOMPARE(report->textInteractionFlags(),
                 Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        QVERIFY(report->wordWrap());
        QCOMPARE(dialog->findChild<QScrollArea*>()->minimumSize(), QSize(600, 300));

        QPushButton* actions = button(dialog.get(), "Device Actions");
        QPushButton* close = button(dialog.get(), "Close");
        QVERIFY(actions && close);
        QCOMPARE(actions->menu(), card->deviceActionsMenu());
        QVERIFY(close->isDefault());
        dialog->show();
        QTest::qWait(100);
        QVERIFY(saveShot(dialog.get(), "webview-card-details"));

        // Choosing a device action closes the window and does what the entry says.
        QPointer<NovaProductCard> guard(card);
        QSignalSpy update(card, &NovaProductCard::firmwareUpdateRequested);
        QAction* force = card->deviceActionsMenu()->actions().value(0);
        QVERIFY(force && force->isEnabled());
        force->trigger();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(update.count(), 1);
        QTRY_VERIFY(!guard);
    }

    void detailsWindowRunsUntilClosed()
    {
        auto* card = new NovaProductCard(m_visible.get(), m_window.get(), QColor(254, 167, 1));
        card->show();
        QString shownReport;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shownReport = dialog->findChild<QLabel*>()->text();
            button(dialog, "Close")->click();
        });
        card->onShowProductEasterEgg();
        QCOMPARE(shownReport, card->deviceDetails());
        QVERIFY(!QApplication::activeModalWidget());
        delete card;
    }
};

QTEST_MAIN(TestNovaProductCard)
#include "tst_novaproductcard.moc"
