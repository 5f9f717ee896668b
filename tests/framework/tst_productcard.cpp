// The product card over the main window, its pages and the settings page's Save and Cancel.
#include "framework/busybutton.h"
#include "framework/cardfooter.h"
#include "framework/cardheader.h"
#include "framework/cardpushbutton.h"
#include "framework/cardtabbedpages.h"
#include "framework/connectingstatuspage.h"
#include "framework/elidedlabel.h"
#include "framework/frameworkresources.h"
#include "framework/productcard.h"
#include "framework/settingscheckbox.h"
#include "framework/settingslineedit.h"
#include "framework/settingspage.h"
#include "framework/settingstab.h"
#include "framework/statuspage.h"
#include "framework/tabbutton.h"
#include "stubdevice.h"

#include <QStackedWidget>
#include <QtTest>

namespace {

// A page that records when its hooks run and what the focus was then.
class RecordingPage : public SettingsPage
{
public:
    using SettingsPage::SettingsPage;
    void saveSettings() override
    {
        log.append(QStringLiteral("save"));
        focusAtSave = QApplication::focusWidget();
    }
    void revertSettings() override { log.append(QStringLiteral("revert")); }

    QStringList log;
    QWidget* focusAtSave = nullptr;
};

// A page whose hooks wait in an event loop during which the card deletes it, as a card does
// when its device is removed in the middle of a save.
class VanishingPage : public SettingsPage
{
public:
    using SettingsPage::SettingsPage;
    void saveSettings() override { vanish(); }
    void revertSettings() override { vanish(); }

private:
    void vanish()
    {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [this, &loop] {
            delete this;
            loop.quit();
        });
        loop.exec();
    }
};

// A shown main window: a hidden one keeps its resizes to itself until it is shown.
struct Window
{
    Window()
    {
        widget.resize(960, 700);
        widget.show();
    }
    QWidget widget;
};

} // namespace

class TestProductCard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { initFrameworkResources(); }

    void sizing_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QRect>("body");
        QTest::newRow("wide") << QSize(960, 700) << QRect(170, 20, 620, 660);
        QTest::newRow("narrow, odd") << QSize(617, 500) << QRect(-1, 20, 620, 460);
        QTest::newRow("exact") << QSize(620, 40) << QRect(0, 20, 620, 0);
    }
    void sizing()
    {
        QFETCH(QSize, window);
        QFETCH(QRect, body);
        Window main;
        StubDevice device(nullptr);
        auto* card = new ProductCard(&device, &main.widget, QColor(1, 171, 255));
        main.widget.resize(window);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(card->size(), window);
        QCOMPARE(card->body()->geometry(), body);
    }

    void followsOnlyTheTopLevelWindow()
    {
        Window main;
        auto* inner = new QWidget(&main.widget);
        StubDevice device(nullptr);
        auto* card = new ProductCard(&device, inner, QColor());
        QCOMPARE(card->parentWidget(), &main.widget);
        QCOMPARE(card->mainWindow(), inner);
        QCOMPARE(card->size(), QSize(960, 700));

        QResizeEvent other(QSize(10, 10), QSize(20, 20));
        QVERIFY(!static_cast<QObject*>(card)->eventFilter(inner, &other));
        QCOMPARE(card->size(), QSize(960, 700));

        main.widget.resize(800, 600);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(card->size(), QSize(800, 600));
        QVERIFY(card->testAttribute(Qt::WA_DeleteOnClose));
    }

    void pages()
    {
        Window main;
        StubDevice device(nullptr, QStringLiteral("Kestrel"));
        auto* card = new ProductCard(&device, &main.widget, QColor());
        QVERIFY(!card->currentPage());
        card->deleteCurrentPage();

        auto* connecting = new ConnectingStatusPage;
        auto* settings = new SettingsPage;
        card->addPage(connecting);
        card->addPage(settings);
        QCOMPARE(card->currentPage(), connecting);
        card->showPage(settings);
        QCOMPARE(card->currentPage(), settings);

        QPointer<StatusPage> gone = settings;
        card->deleteCurrentPage();
        QCOMPARE(card->pages()->count(), 1);
        QCOMPARE(card->currentPage(), connecting);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(gone.isNull());

        device.shownName = QStringLiteral("Studio B");
        card->showDeviceName(&device);
        QCOMPARE(card->header()->subtitleLabel()->text(), QStringLiteral("Studio B"));
    }

    void connectingPageCancels()
    {
        ConnectingStatusPage page;
        QSignalSpy cancelled(&page, &ConnectingStatusPage::connectionCancelled);
        QVERIFY(page.busyButton()->isBusy());
        page.busyButton()->click();
        QCOMPARE(cancelled.count(), 1);
        page.cancelButton()->click();
        QCOMPARE(cancelled.count(), 2);
        QCOMPARE(page.label()->text(), QStringLiteral("Connecting..."));
        QCOMPARE(page.objectName(), QStringLiteral("productCardBottom"));
    }

    void saveFollowsTheFields()
    {
        SettingsPage page;
        QVERIFY(page.footer()->saveButton()->isEnabled());
        auto* tab = new SettingsTab(&page);
        page.addTab(tab, QStringLiteral("General"));
        SettingsLineEdit* name = tab->addLineEdit(QStringLiteral("Name:"), 0);
        name->setText(QStringLiteral("Kestrel"));

        QTest::keyClicks(name, QStringLiteral("!"));
        QCOMPARE(tab->status(), int(Edited));
        QVERIFY(page.footer()->saveButton()->isEnabled());
        name->selectAll();
        QTest::keyClick(name, Qt::Key_Delete);
        QVERIFY(!page.footer()->saveButton()->isEnabled());
        QTest::keyClicks(name, QStringLiteral("K"));
        QVERIFY(page.footer()->saveButton()->isEnabled());
    }

    void cardShowsTheWorstTab()
    {
        Window main;
        StubDevice device(nullptr);
        auto* card = new ProductCard(&device, &main.widget, QColor());
        auto* page = new SettingsPage;
        auto* general = new SettingsTab(page);
        auto* network = new SettingsTab(page);
        page->addTab(general, QStringLiteral("General"));
        page->addTab(network, QStringLiteral("Network"));
        card->addPage(page);
        SettingsLineEdit* address = network->addLineEdit(QStringLiteral("Address:"), 1);
        address->setText(QStringLiteral("10.0.0.9"));
        general->addCheckBox(QStringLiteral("Loop:"), QStringLiteral("On"))->click();
        QCOMPARE(page->tabs()->status(), int(Edited));

        page->tabs()->tabButton(1)->click();
        address->selectAll();
        QTest::keyClicks(address, QStringLiteral("300"));
        QCOMPARE(page->tabs()->status(), int(Invalid));
        QVERIFY(!page->footer()->saveButton()->isEnabled());

        // Leaving the invalid tab marks its button, not the other one.
        page->tabs()->tabButton(0)->click();
        QVERIFY(page->tabs()->tabButton(1)->alert());
        QVERIFY(!page->tabs()->tabButton(0)->alert());

        address->setText(QStringLiteral("10.0.0.1"));
        Q_EMIT address->editingFinished();
        QCOMPARE(page->tabs()->status(), int(Edited));
        QVERIFY(!page->tabs()->tabButton(1)->alert());
        QVERIFY(page->footer()->saveButton()->isEnabled());
    }

    void saveCommitsTheFieldFirst()
    {
        Window main;
        auto* page = new RecordingPage(&main.widget);
        page->resize(620, 400);
        page->show();
        auto* tab = new SettingsTab(page);
        page->addTab(tab, QStringLiteral("General"));
        SettingsLineEdit* name = tab->addLineEdit(QStringLiteral("Name:"), 2);
        QStringList* log = &page->log;
        connect(name, &QLineEdit::editingFinished, page, [log] { log->append("committed"); });
        QSignalSpy closed(page, &SettingsPage::closePage);
        main.widget.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main.widget));

        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("Kestrel"));
        connect(page, &SettingsPage::closePage, page, [log] { log->append("closed"); });
        page->footer()->saveButton()->click();
        QCOMPARE(page->log, QStringList({"committed", "save", "closed"}));
        QCOMPARE(page->focusAtSave, page->footer());
        QCOMPARE(closed.count(), 1);

        page->log.clear();
        page->footer()->cancelButton()->click();
        QCOMPARE(page->log, QStringList({"revert", "closed"}));
        QCOMPARE(closed.count(), 2);
    }

    void pageDeletedDuringItsHookClosesNothing_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("save") << true;
        QTest::newRow("cancel") << false;
    }
    void pageDeletedDuringItsHookClosesNothing()
    {
        QFETCH(bool, save);
        Window main;
        QPointer<VanishingPage> page = new VanishingPage(&main.widget);
        int closed = 0;
        connect(page, &SettingsPage::closePage, &main.widget, [&closed] { ++closed; });
        CardFooter* footer = page->footer();
        (save ? footer->saveButton() : footer->cancelButton())->click();
        QVERIFY(!page);
        QCOMPARE(closed, 0);
    }

    void footerCanBeHidden()
    {
        SettingsPage page;
        page.setSettingsButtonVisible(false);
        QVERIFY(page.footer()->settingsButton()->isHidden());
        page.setFooterVisible(false);
        QVERIFY(page.footer()->isHidden());

        QSignalSpy menu(&page, &SettingsPage::menuOptionPressed);
        Q_EMIT page.footer()->menuOptionPressed(7);
        QCOMPARE(menu.count(), 1);
        QCOMPARE(menu.first().at(0).toInt(), 7);
    }
};

QTEST_MAIN(TestProductCard)
#include "tst_productcard.moc"
