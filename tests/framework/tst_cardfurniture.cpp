#include "framework/cardfooter.h"
#include "framework/cardheader.h"
#include "framework/cardpopupmenu.h"
#include "framework/cardpushbutton.h"
#include "framework/cardscrollarea.h"
#include "framework/cardsection.h"
#include "framework/cardseparator.h"
#include "framework/cardtabbedpages.h"
#include "framework/contract/visibledevice.h"
#include "framework/elidedlabel.h"
#include "framework/flatimagebutton.h"
#include "framework/frameworkresources.h"
#include "framework/settingstab.h"
#include "framework/style.h"
#include "framework/tabbutton.h"
#include "framework/tighthboxlayout.h"
#include "stubdevice.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

namespace {

class Device : public StubDevice
{
public:
    Device(const QString& name, const QPixmap& icon)
        : StubDevice(nullptr, name)
    {
        shownName = QStringLiteral("Studio B");
        cardIcon = icon;
    }
};

// A tab whose status the test sets, recording its activation hooks.
class Tab : public SettingsTab
{
public:
    using SettingsTab::setStatus;
    using SettingsTab::SettingsTab;
    void activate() override { hooks << "activate"; }
    void deactivate() override { hooks << "deactivate"; }
    QStringList hooks;
};

} // namespace

class TestCardFurniture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerApplicationFonts(); }

    void tabbedPagesTakeTheWorstStatus_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("worst");
        QTest::newRow("all unchanged") << QList<int>{0, 0, 0} << 0;
        QTest::newRow("one edited") << QList<int>{0, 1, 0} << 1;
        QTest::newRow("invalid wins") << QList<int>{1, 0, 2} << 2;
        QTest::newRow("first invalid") << QList<int>{2, 1} << 2;
    }

    void tabbedPagesTakeTheWorstStatus()
    {
        QFETCH(QList<int>, statuses);
        CardTabbedPages pages(QColor(1, 171, 255));
        QCOMPARE(pages.status(), 0);
        QList<Tab*> tabs;
        for (int i = 0; i < statuses.size(); ++i) {
            tabs << new Tab;
            QCOMPARE(pages.addPage(tabs.last(), QStringLiteral("Tab %1").arg(i)), i);
        }
        QSignalSpy changed(&pages, &CardTabbedPages::settingsStatusChanged);
        for (int i = 0; i < statuses.size(); ++i)
            tabs[i]->setStatus(statuses[i]);
        QTEST(pages.status(), "worst");
        QCOMPARE(changed.isEmpty(), pages.status() == 0);
    }

    void statusAlreadySetWhenAdded()
    {
        CardTabbedPages pages(QColor(1, 171, 255));
        auto* tab = new Tab;
        tab->setStatus(Edited);
        QSignalSpy changed(&pages, &CardTabbedPages::settingsStatusChanged);
        pages.addPage(tab, QStringLiteral("General"));
        QCOMPARE(pages.status(), 1);
        QCOMPARE(changed.count(), 1);
    }

    void firstTabIsCheckedAndSwitchingRunsHooks()
    {
        CardTabbedPages pages(QColor(1, 171, 255));
        auto* first = new Tab;
        auto* second = new Tab;
        pages.addPage(first, QStringLiteral("General"));
        pages.addPage(second, QStringLiteral("Network"));
        QVERIFY(pages.tabButton(0)->isChecked());
        QVERIFY(!pages.tabButton(1)->isChecked());

        pages.tabButton(1)->click();
        QCOMPARE(pages.currentIndex(), 1);
        QCOMPARE(pages.pages()->currentWidget(), second);
        QCOMPARE(first->hooks, QStringList{"deactivate"});
        QCOMPARE(second->hooks, QStringList{"activate"});

        // The same tab again changes nothing.
        pages.tabButton(1)->click();
        QCOMPARE(second->hooks, QStringList{"activate"});
    }

    void leavingAnInvalidTabMarksIt()
    {
        CardTabbedPages pages(QColor(1, 171, 255));
        auto* first = new Tab;
        auto* second = new Tab;
        pages.addPage(first, QStringLiteral("General"));
        pages.addPage(second, QStringLiteral("Network"));
        first->setStatus(Invalid);
        QVERIFY(!pages.tabButton(0)->alert());
        pages.tabButton(1)->click();
        QVERIFY(pages.tabButton(0)->alert());
        first->setStatus(Edited);
        QVERIFY(!pages.tabButton(0)->alert());
        QCOMPARE(pages.status(), 1);
    }

    void tabButtonGeometry()
    {
        TabButton button(QStringLiteral("Network"));
        const QFontMetrics metrics(scaledFont(3));
        const QRect bounds = metrics.boundingRect(QStringLiteral("Network"));
        QCOMPARE(button.size(), QSize(bounds.width() + 24, 36));
        QCOMPARE(button.textRect(), QRect(0, 21 - bounds.height() + metrics.descent(),
                                          bounds.width() + 14, bounds.height()));
        QVERIFY(button.isCheckable());
    }

    void headerWithoutIconWidensTheLabels()
    {
        Device device(QStringLiteral("Kestrel"), QPixmap());
        CardHeader header(&device);
        QCOMPARE(header.size(), QSize(620, 100));
        QVERIFY(header.iconLabel()->isHidden());
        QCOMPARE(header.titleLabel()->width(), 560);
        QCOMPARE(header.subtitleLabel()->width(), 560);
        QCOMPARE(header.titleLabel()->text(), QStringLiteral("Kestrel"));
        QCOMPARE(header.subtitleLabel()->text(), QStringLiteral("Studio B"));
    }

    void headerWithIconMakesRoomForIt()
    {
        QPixmap icon(40, 20);
        icon.fill(Qt::white);
        Device device(QStringLiteral("Kestrel"), icon);
        CardHeader header(&device);
        QVERIFY(!header.iconLabel()->isHidden());
        QCOMPARE(header.iconLabel()->width(), 50);
        QCOMPARE(header.iconLabel()->pos(), QPoint(620 - 31 - 50, 35));
        QCOMPARE(header.titleLabel()->width(), 620 - 31 - 50 - 30);
    }

    void headerEasterEgg()
    {
        Device device(QStringLiteral("Kestrel"), QPixmap());
        CardHeader header(&device);
        QSignalSpy spy(&header, &CardHeader::showEasterEgg);
        QWidget* hotSpot = header.childAt(605, 5);
        QVERIFY(hotSpot);
        QTest::mouseDClick(hotSpot, Qt::LeftButton, Qt::AltModifier);
        QCOMPARE(spy.count(), 1);
    }

    void footerWithEmptyMenuOnlySignals()
    {
        CardFooter footer;
        QSignalSpy pushed(&footer, &CardFooter::settingsButtonPushed);
        footer.settingsButton()->click();
        QCOMPARE(pushed.count(), 1);
        QVERIFY(!footer.menu()->isVisible());
    }

    void footerMenuReportsTags()
    {
        CardFooter footer;
        QSignalSpy pressed(&footer, &CardFooter::menuOptionPressed);
        footer.menu()->addOption(QStringLiteral("Identify"), 7);
        footer.menu()->addOption(QStringLiteral("Reboot"), 9);
        QCOMPARE(footer.menu()->options(), (QStringList{"Identify", "Reboot"}));
        footer.menu()->actions().at(1)->trigger();
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).toInt(), 9);
    }

    void footerButtons()
    {
        CardFooter footer;
        QSignalSpy save(&footer, &CardFooter::savePressed);
        QSignalSpy cancel(&footer, &CardFooter::cancelPressed);
        QCOMPARE(footer.height(), 66);
        QCOMPARE(footer.saveButton()->size(), QSize(112, 24));
        QCOMPARE(footer.saveButton()->pos(), QPoint(478, 21));
        QCOMPARE(footer.cancelButton()->pos(), QPoint(348, 21));
        footer.saveButton()->click();
        footer.cancelButton()->click();
        QCOMPARE(save.count(), 1);
        QCOMPARE(cancel.count(), 1);
        footer.setSettingsStatus(Invalid);
        QVERIFY(!footer.saveButton()->isEnabled());
        footer.setSettingsStatus(Edited);
        QVERIFY(footer.saveButton()->isEnabled());
        footer.setSettingsStatus(Unchanged);
        QVERIFY(footer.saveButton()->isEnabled());
    }

    void elidedLabel_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("elided");
        QTest::newRow("short") << "Deck" << false;
        QTest::newRow("long") << QString("A very long device name ").repeated(5) << true;
    }

    void elidedLabel()
    {
        QFETCH(QString, text);
        QFETCH(bool, elided);
        ElidedLabel label(text, scaledFont(1), QColor(208, 208, 208));
        label.setFixedSize(200, 30);
        QCOMPARE(label.isElided(), elided);
        // Plain text: markup and ampersands stay as typed.
        QCOMPARE(label.textFormat(), Qt::PlainText);
        QVERIFY(!label.grab().isNull());
    }

    void scrollAreaOverlayFollowsContent()
    {
        CardScrollArea area;
        area.resize(300, 200);
        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        auto* row = new QWidget;
        row->setFixedHeight(100);
        column->addWidget(row);
        area.setWidget(content);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        QCOMPARE(area.overlayBar()->geometry(), QRect(300 - 11, 0, 7, 200));
        QVERIFY(!area.overlayBar()->isVisible());

        row->setFixedHeight(600);
        QTRY_VERIFY(area.overlayBar()->isVisible());
        QCOMPARE(area.overlayBar()->maximum(), area.verticalScrollBar()->maximum());
        QVERIFY(area.overlayBar()->maximum() > 0);
        area.overlayBar()->setValue(50);
        QCOMPARE(area.verticalScrollBar()->value(), 50);
        area.verticalScrollBar()->setValue(70);
        QCOMPARE(area.overlayBar()->value(), 70);

        row->setFixedHeight(50);
        QTRY_VERIFY(!area.overlayBar()->isVisible());
    }

    void sectionsAndSeparators()
    {
        CardSection titled(QStringLiteral("Network"));
        QCOMPARE(titled.height(), 47);
        QCOMPARE(titled.findChildren<QLabel*>().size(), 1);
        QCOMPARE(titled.findChildren<QLabel*>().first()->pos(), QPoint(30, 11));
        CardSection untitled(QString{});
        QVERIFY(untitled.findChildren<QLabel*>().isEmpty());

        CardSeparator separator(QColor(208, 208, 208));
        QCOMPARE(separator.height(), 1);
        QCOMPARE(separator.styleSheet(), QStringLiteral("QWidget { background: #d0d0d0; }"));
    }

    void tightLayouts()
    {
        TightHBoxLayout row;
        QCOMPARE(row.spacing(), 0);
        QCOMPARE(row.contentsMargins(), QMargins());
    }
};

QTEST_MAIN(TestCardFurniture)
#include "tst_cardfurniture.moc"
