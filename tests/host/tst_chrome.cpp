#include "fakebonjourservice.h"
#include "framework/appbranding.h"
#include "framework/contract/devicelist.h"
#include "framework/flatimagebutton.h"
#include "host/aboutbox.h"
#include "host/builddetailsdialog.h"
#include "host/crossmenu.h"
#include "host/dotswidget.h"
#include "host/footerleftregion.h"
#include "host/launcherpushbutton.h"
#include "host/mainwindow.h"
#include "host/viewselectionbar.h"
#include "host/visibledeviceswidget.h"
#include "host/windowfooter.h"
#include "testfamily.h"

#include <QLabel>
#include <QStackedWidget>
#include <QTabWidget>
#include <QtTest>

// The gallery, the footer and the small dialogs, each on a device list of its own.
class TestChrome : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void emptyListShowsTheNoDevicePage();
    void arrowsFollowThePosition_data();
    void arrowsFollowThePosition();
    void badInstallStaysWhateverTheListDoes();
    void longStatusTextIsElided();
    void firmwareStatusWithoutVersionKeepsTheEarlierText();
    void summaryWidgetIsBorrowedNeverDeleted();
    void summaryWidgetDestroyedByItsDeviceIsForgotten();
    void setupButtonShowsOnlyForAConnectedDevice();

    void dotsFollowTheList();
    void crossButton_data();
    void crossButton();
    void viewBarFallsBackToTheGalleryWithoutASelection();

    void aboutBoxGrowsForALongName();
    void buildDetailsWithoutFamilies();

private:
    std::unique_ptr<QWidget> m_parent;
    std::unique_ptr<DeviceList> m_list;
    std::unique_ptr<TestFamily> m_family;
};

void TestChrome::initTestCase()
{
    qRegisterMetaType<VisibleDevice*>();
    AppBranding::instance().noDeviceHeader = QStringLiteral("No Device found");
    AppBranding::instance().badInstallHeader = QStringLiteral("The software is not compatible");
}

void TestChrome::init()
{
    m_parent = std::make_unique<QWidget>();
    m_list = std::make_unique<DeviceList>();
    m_family = std::make_unique<TestFamily>(QStringLiteral("F"), nullptr);
    QObject::connect(m_family.get(), &Family::deviceArrived, m_list.get(),
                     &DeviceList::onDeviceAdded);
    QObject::connect(m_family.get(), qOverload<VisibleDevice*>(&Family::deviceRemoved),
                     m_list.get(), &DeviceList::onDeviceRemoved);
}

void TestChrome::cleanup()
{
    m_parent.reset();
    m_family.reset();
    m_list.reset();
}

void TestChrome::emptyListShowsTheNoDevicePage()
{
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    QCOMPARE(gallery.subPages()->currentIndex(), gallery.messagePageIndex());
    QCOMPARE(gallery.subPages()->width(), 470);
    QCOMPARE(gallery.nameLabel()->text(), QStringLiteral("No Device found"));
    QVERIFY(!gallery.deviceButton()->isEnabled());
    QVERIFY(gallery.leftArrow()->isHidden());
    QVERIFY(gallery.rightArrow()->isHidden());

    // The message's link asks for the add-by-address dialog.
    QSignalSpy add(&gallery, &VisibleDevicesWidget::addByIpClicked);
    Q_EMIT gallery.messageLabel()->linkActivated("addbyip");
    QCOMPARE(add.count(), 1);
}

void TestChrome::arrowsFollowThePosition_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("left");
    QTest::addColumn<bool>("right");
    QTest::newRow("one") << 1 << 0 << false << false;
    QTest::newRow("first of three") << 3 << 0 << false << true;
    QTest::newRow("middle") << 3 << 1 << true << true;
    QTest::newRow("last") << 3 << 2 << true << false;
}

void TestChrome::arrowsFollowThePosition()
{
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(bool, left);
    QFETCH(bool, right);
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    for (int i = 0; i < count; ++i)
        m_family->addDevice(QStringLiteral("Device %1").arg(i));
    m_list->select(selected);
    QCOMPARE(gallery.subPages()->currentIndex(), gallery.setupPageIndex());
    QCOMPARE(gallery.subPages()->width(), 400);
    QCOMPARE(gallery.nameLabel()->text(), QStringLiteral("Device %1").arg(selected));
    QCOMPARE(!gallery.leftArrow()->isHidden(), left);
    QCOMPARE(!gallery.rightArrow()->isHidden(), right);

    // The arrows step without wrapping around.
    QMetaObject::invokeMethod(&gallery, "onRightClicked");
    QCOMPARE(m_list->selectedIndex(), qMin(selected + 1, count - 1));
    m_list->select(selected);
    QMetaObject::invokeMethod(&gallery, "onLeftClicked");
    QCOMPARE(m_list->selectedIndex(), qMax(selected - 1, 0));
}

void TestChrome::badInstallStaysWhateverTheListDoes()
{
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    m_family->addDevice("One");
    Q_EMIT m_family->badInstall();
    gallery.onBadInstall();
    m_family->addDevice("Two");
    m_list->select(1);
    QVERIFY(gallery.isBadInstall());
    QCOMPARE(gallery.nameLabel()->text(), QStringLiteral("The software is not compatible"));
    QCOMPARE(gallery.subPages()->currentIndex(), gallery.messagePageIndex());
    QVERIFY(!gallery.deviceButton()->isEnabled());
    // Its own picture, though it is read only once needed.
    QImage shown(gallery.deviceButton()->size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(Qt::transparent);
    gallery.deviceButton()->render(&shown, QPoint(), QRegion(), QWidget::RenderFlags());
    QCOMPARE(shown, AppBranding::badInstallPixmap().toImage().convertToFormat(shown.format()));
}

void TestChrome::longStatusTextIsElided()
{
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    TestDevice* device = m_family->addDevice("D");
    QPixmap icon(40, 20);
    icon.fill(Qt::green);
    device->connectionIcon = icon;
    device->status = QString(200, QLatin1Char('W'));
    Q_EMIT m_list->deviceListChanged(device);
    QCOMPARE(gallery.connectionIconLabel()->width(), 50);
    QCOMPARE(gallery.statusLabel()->width(), 350);
    QVERIFY(gallery.statusLabel()->text().endsWith(QChar(0x2026)));

    device->status = QStringLiteral("Connected");
    device->connectionIcon = QPixmap();
    Q_EMIT m_list->deviceListChanged(device);
    QCOMPARE(gallery.statusLabel()->text(), QStringLiteral("Connected"));
    QVERIFY(gallery.connectionIconLabel()->isHidden());
}

void TestChrome::firmwareStatusWithoutVersionKeepsTheEarlierText()
{
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    TestDevice* device = m_family->addDevice("D");
    device->firmwareStatus = true;
    device->version = "2.1";
    device->needsUpdate = true;
    device->available = "2.3";
    Q_EMIT m_list->deviceListChanged(device);
    QCOMPARE(gallery.subPages()->currentIndex(), gallery.updatePageIndex());
    QCOMPARE(gallery.versionLabel()->text(), QStringLiteral("Version 2.1"));
    QCOMPARE(gallery.availableVersionLabel()->text(), QStringLiteral("Version 2.3"));
    QVERIFY(!gallery.updateButton()->isHidden());
    QVERIFY(!gallery.deviceButton()->isEnabled());

    QSignalSpy update(&gallery, &VisibleDevicesWidget::requestFirmwareUpdate);
    gallery.updateButton()->click();
    QCOMPARE(update.count(), 1);

    device->version.clear();
    device->needsUpdate = false;
    Q_EMIT m_list->deviceListChanged(device);
    QCOMPARE(gallery.versionLabel()->text(), QStringLiteral("Version 2.1"));
    QCOMPARE(gallery.updateStateLabel()->text(), QStringLiteral("Software is up to date."));
    QVERIFY(gallery.updateButton()->isHidden());
    QVERIFY(gallery.availableVersionLabel()->isHidden());

    // A device that gives its version with the label gets it once, not twice.
    device->version = "Version 7.1";
    device->needsUpdate = true;
    device->available = "Version 7.2";
    Q_EMIT m_list->deviceListChanged(device);
    QCOMPARE(gallery.versionLabel()->text(), QStringLiteral("Version 7.1"));
    QCOMPARE(gallery.availableVersionLabel()->text(), QStringLiteral("Version 7.2"));
}

// The summary widget belongs to its device; the gallery shows it and hands it back.
void TestChrome::summaryWidgetIsBorrowedNeverDeleted()
{
    auto gallery = std::make_unique<VisibleDevicesWidget>(m_list.get(), m_parent.get());
    TestDevice* first = m_family->addDevice("A");
    TestDevice* second = m_family->addDevice("B");
    auto summaryA = std::make_unique<QLabel>("summary A");
    auto summaryB = std::make_unique<QLabel>("summary B");
    first->summary = summaryA.get();
    second->summary = summaryB.get();
    m_list->select(0);
    QCOMPARE(gallery->summaryWidget(), summaryA.get());
    QCOMPARE(summaryA->parentWidget(), gallery.get());

    m_list->select(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first->summary);
    QCOMPARE(summaryA->parentWidget(), nullptr);
    QCOMPARE(gallery->summaryWidget(), summaryB.get());

    // Going away, the gallery takes nothing of the device's with it.
    gallery.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(second->summary);
    QCOMPARE(summaryB->parentWidget(), nullptr);
}

void TestChrome::summaryWidgetDestroyedByItsDeviceIsForgotten()
{
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    TestDevice* device = m_family->addDevice("A");
    auto* summary = new QLabel("summary");
    device->summary = summary;
    Q_EMIT m_list->deviceListChanged(device);
    QCOMPARE(gallery.summaryWidget(), summary);
    delete summary;
    QCOMPARE(gallery.summaryWidget(), nullptr);
    QCOMPARE(gallery.nameLabel()->text(), QStringLiteral("A"));
}

void TestChrome::setupButtonShowsOnlyForAConnectedDevice()
{
    VisibleDevicesWidget gallery(m_list.get(), m_parent.get());
    TestDevice* device = m_family->addDevice("A");
    QSignalSpy show(&gallery, &VisibleDevicesWidget::requestShowDevice);
    QVERIFY(!gallery.setupButton()->isHidden());
    gallery.deviceButton()->click();
    QCOMPARE(show.count(), 1);

    device->connected = false;
    Q_EMIT m_list->deviceListChanged(device);
    QVERIFY(gallery.setupButton()->isHidden());
    gallery.deviceButton()->click();
    QCOMPARE(show.count(), 1);
}

void TestChrome::dotsFollowTheList()
{
    DotsWidget dots(m_list.get(), m_parent.get());
    TestDevice* first = m_family->addDevice("A");
    QCOMPARE(dots.dots().size(), 1);
    QVERIFY(dots.dots()[0]->isHidden());

    m_family->addDevice("B");
    m_list->select(1);
    QCOMPARE(dots.dots().size(), 2);
    QVERIFY(!dots.dots()[0]->isHidden());
    QCOMPARE(dots.currentDot(), 1);

    dots.dots()[0]->click();
    QCOMPARE(m_list->selectedIndex(), 0);
    QCOMPARE(dots.currentDot(), 0);

    m_family->removeDevice(first);
    QCOMPARE(dots.dots().size(), 1);
    // Listed but nothing selected: no dot is lit.
    m_list->select(7);
    QCOMPARE(dots.currentDot(), -1);
}

void TestChrome::crossButton_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("direct");
    QTest::newRow("none") << QStringList() << false << 0;
    QTest::newRow("one acts at once") << QStringList{"Only"} << true << 1;
    QTest::newRow("two open the menu") << QStringList{"One", "Two"} << true << 0;
}

void TestChrome::crossButton()
{
    QFETCH(QStringList, options);
    QFETCH(bool, visible);
    QFETCH(int, direct);
    FooterLeftRegion region(m_parent.get());
    QSignalSpy selected(&region, &FooterLeftRegion::crossMenuOptionSelected);
    region.setOptions(options);
    QCOMPARE(!region.crossButton()->isHidden(), visible);
    region.onCrossButtonClicked();
    QCOMPARE(selected.count(), direct);
    if (options.size() >= 2) {
        QCOMPARE(region.menu()->actions().size(), 2);
        region.menu()->actions()[1]->trigger();
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected[0][0].toString(), QStringLiteral("Two"));
    }
}

void TestChrome::viewBarFallsBackToTheGalleryWithoutASelection()
{
    WindowFooter footer(m_list.get(), m_parent.get(), true);
    m_parent->show();
    QSignalSpy gallery(&footer, &WindowFooter::galleryViewSelected);
    QVERIFY(footer.viewBar()->isHidden());

    TestDevice* device = m_family->addDevice("A");
    QVERIFY(!footer.viewBar()->isHidden());
    footer.viewBar()->onListViewSelected();
    QCOMPARE(footer.viewBar()->state(), 2);

    m_family->removeDevice(device);
    QVERIFY(gallery.count() >= 1);
    QVERIFY(footer.viewBar()->isHidden());

    // Devices listed but none selected count as none.
    m_family->addDevice("B");
    gallery.clear();
    m_list->select(-1);
    QCOMPARE(gallery.count(), 1);
    QVERIFY(footer.viewBar()->isHidden());
}

void TestChrome::aboutBoxGrowsForALongName()
{
    AboutBox box;
    box.setName("Pellworth");
    QCOMPARE(box.size(), QSize(286, 288));
    QVERIFY(!box.isTwoLine());
    box.setName("Pellworth Studio Recorder and Deck Controller Setup");
    QCOMPARE(box.size(), QSize(286, 313));
    QVERIFY(box.isTwoLine());
    box.setYear("2025");
    QVERIFY(box.noticeText().contains("2025"));
    QCOMPARE(box.noticeText().count('\n'), 1);
}

void TestChrome::buildDetailsWithoutFamilies()
{
    BuildDetailsDialog none({}, m_parent.get());
    QCOMPARE(none.tabs()->count(), 0);
    const QStringList lines = BuildDetailsDialog::buildText().split('\n');
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QStringLiteral("** Build information"));
    QVERIFY(lines[1].startsWith("\tTime:     \t"));
    QVERIFY(QRegularExpression("^\\d{12}$").match(lines[1].section('\t', 2)).hasMatch());
    QVERIFY(lines[2].startsWith("\tRC Tag:   \t"));
    QVERIFY(lines[3].startsWith("\tRevision: \t"));
    QVERIFY(!lines[3].section('\t', 2).isEmpty());
    QVERIFY(lines[4].isEmpty());

    TestFamily other("Other", nullptr);
    BuildDetailsDialog one({m_family.get(), &other}, m_parent.get());
    QCOMPARE(one.tabs()->count(), 2);
    QCOMPARE(one.tabs()->tabText(1), QStringLiteral("Other"));
}

QTEST_MAIN(TestChrome)
#include "tst_chrome.moc"
