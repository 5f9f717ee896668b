#include "pluginwindow.h"
#include "privatenetwork.h"

#include "framework/contract/devicelist.h"
#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"
#include "host/visibledeviceswidget.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/recorder/streamingrecorder.h"
#include "sim/recorder/xmegamailboxrecorder.h"
#include "sim/usbbus/usbbus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Generous: the sanitizers slow every poll of the GUI thread, and an update waits for the unit.
constexpr int kWaitMs = 60000;

using PluginWindow::findByClass;
using PluginWindow::saveScreenshot;
using PluginWindow::showsText;
using PluginWindow::visibleButton;

VisibleDevice* deviceNamed(MainWindow& window, const QString& name)
{
    DeviceList* list = window.deviceList();
    for (int i = 0; i < list->count(); ++i)
        if (list->deviceAt(i)->displayName() == name)
            return list->deviceAt(i);
    return nullptr;
}

std::unique_ptr<MainWindow> openWindow()
{
    auto window = PluginWindow::open(PluginWindow::pluginFolder(QStringLiteral("Tamsett")));
    window->show();
    return window;
}

} // namespace

// The program's window with the built Tamsett plug-in and a recorder of each generation on the
// simulated bus.
class TestProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void windowShowsEachRecorder();
    void aLaterWindowGetsAFamilyOfItsOwn();
    void aPlugInWithoutResourcesStillGivesItsFamily();
};

void TestProgram::initTestCase()
{
    QVERIFY(PluginWindow::loadBranding(QStringLiteral("PellworthTest-recorder")));
    QVERIFY(QFileInfo::exists(PluginWindow::pluginFolder(QStringLiteral("Tamsett")) +
                              "/Resources/data-c3a6.bin"));
}

void TestProgram::cleanup()
{
    Sim::UsbBus::instance().reset();
}

void TestProgram::windowShowsEachRecorder()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    auto fx2 = std::make_shared<Sim::Fx2Recorder>(0xC34D);
    fx2->setFirmware(0x2D, 0x1A6291BD);
    const Sim::DeviceId fx2Id = bus.plug(fx2);
    // Older firmware than the plug-in carries: the gallery offers the update.
    auto mailbox = std::make_shared<Sim::XmegaMailboxRecorder>();
    mailbox->setFirmware(0x0F, 0x16327E57);
    bus.plug(mailbox);
    bus.plug(std::make_shared<Sim::StreamingRecorder>());

    auto window = openWindow();
    QCOMPARE(window->families().size(), 1);
    QCOMPARE(window->families().first()->name(), QStringLiteral("Kestrel"));
    QTRY_VERIFY_WITH_TIMEOUT(window->isStarted(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(window->deviceList()->count(), 3, kWaitMs);
    for (const char* name : {"Kestrel Bench", "Kestrel Bench UHD", "Kestrel Bench Lite"})
        QVERIFY2(deviceNamed(*window, name), name);

    // The gallery on the recorder that needs an update.
    VisibleDevice* stale = deviceNamed(*window, "Kestrel Bench UHD");
    window->deviceList()->select(window->deviceList()->indexOf(stale));
    VisibleDevicesWidget* gallery = window->gallery();
    QTRY_COMPARE(gallery->nameLabel()->text(), QStringLiteral("Kestrel Bench UHD"));
    QTest::qWait(100);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("recorder_gallery.png")));

    // The update the gallery asks for, asked, run and done; the hidden card it ran on goes.
    // Recorders show no firmware status in the gallery, so its request is sent as it would.
    emit gallery->requestFirmwareUpdate(stale);
    QVERIFY(findByClass(window.get(), "KestrelProductCard"));
    QTRY_VERIFY_WITH_TIMEOUT(visibleButton(window.get(), "Update"), kWaitMs);
    QTest::mouseClick(visibleButton(window.get(), "Update"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(showsText(window.get(), "Update Complete!"), kWaitMs);
    QTest::mouseClick(visibleButton(window.get(), "Done"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!findByClass(window.get(), "KestrelProductCard"), kWaitMs);
    QCOMPARE(window->deviceList()->count(), 3);

    // The FX2 recorder's card with its settings.
    VisibleDevice* bench = deviceNamed(*window, "Kestrel Bench");
    window->families().first()->showDevice(bench);
    QWidget* card = findByClass(window.get(), "KestrelProductCard");
    QVERIFY(card);
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(card, "KestrelSettingsPage") &&
                                 findByClass(card, "KestrelSettingsPage")->isVisible(),
                             kWaitMs);
    QTest::qWait(100);
    QVERIFY(saveScreenshot(window.get(), QStringLiteral("recorder_card.png")));

    // Unplugged, its card closes and the gallery keeps the other two.
    QVERIFY(bus.unplug(fx2Id));
    QTRY_COMPARE_WITH_TIMEOUT(window->deviceList()->count(), 2, kWaitMs);
    QVERIFY(!deviceNamed(*window, "Kestrel Bench"));
    QTRY_VERIFY_WITH_TIMEOUT(!findByClass(window.get(), "KestrelProductCard"), kWaitMs);
    window->close();
}

// The plug-in outlives the window that deleted its family: the next window is handed only a
// family of its own.
void TestProgram::aLaterWindowGetsAFamilyOfItsOwn()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    auto first = openWindow();
    QCOMPARE(first->families().size(), 1);
    first.reset();

    auto fx2 = std::make_shared<Sim::Fx2Recorder>(0xC34D);
    fx2->setFirmware(0x2D, 0x1A6291BD);
    Sim::UsbBus::instance().plug(fx2);
    auto second = openWindow();
    QCOMPARE(second->families().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(second->isStarted(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(second->deviceList()->count(), 1, kWaitMs);
    QVERIFY(deviceNamed(*second, "Kestrel Bench"));
    QVERIFY(second->families().first()->buildDetails().contains("\n** Connected Devices: \n"));
}

// Without its Resources folder the plug-in still serves recorders; it only has no firmware.
void TestProgram::aPlugInWithoutResourcesStillGivesItsFamily()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString library = QStringLiteral("/libTamsett.so");
    QVERIFY(QFile::copy(PluginWindow::pluginFolder(QStringLiteral("Tamsett")) + library,
                        folder.path() + library));
    auto window = PluginWindow::open(folder.path());
    QCOMPARE(window->families().size(), 1);
    QCOMPARE(window->families().first()->name(), QStringLiteral("Kestrel"));
}

PRIVATE_NETWORK_TEST_MAIN_WITH(QApplication, TestProgram)

#include "tst_program.moc"
