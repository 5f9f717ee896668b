#include "announcer.h"
#include "pluginwindow.h"
#include "privatenetwork.h"
#include "xvfbdisplay.h"

#include "framework/contract/devicelist.h"
#include "framework/contract/visibledevice.h"
#include "framework/flatimagebutton.h"
#include "host/launcherpushbutton.h"
#include "host/visibledeviceswidget.h"
#include "host/windowfooter.h"
#include "sim/blockrecorder/blockrecorder.h"
#include "sim/blockrecorder/firmwareupdatepeer.h"
#include "sim/deckcontroller/deckcontrollerunit.h"
#include "sim/deckcontroller/zynqbootimage.h"
#include "sim/firmwarehttp/firmwarehttpserver.h"
#include "sim/novarecorder/novarecorder.h"
#include "sim/novawebserver/novawebserver.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/recorder/streamingrecorder.h"
#include "sim/recorder/xmegamailboxrecorder.h"
#include "sim/usbbus/usbbus.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <set>

namespace {

// Generous: the sanitizers slow the web engine, and an update waits for the unit's restart.
constexpr int kWaitMs = 90000;

using PluginWindow::findByClass;
using PluginWindow::showsText;
using PluginWindow::visibleButton;

// Why the test has no X server, empty when it has one.
std::string& displayFailure()
{
    static std::string reason;
    return reason;
}

// The settings key of the recorder's trigger, as its settings block holds it.
constexpr uint32_t kTriggerKey = 0xC3010005;
constexpr uint32_t kTimecodeRun = 2;

// The firmware each recorder runs before its update and after it: the ones after are those
// the plug-in carries.
struct RecorderFirmware
{
    uint8_t fpga;
    uint32_t cpu;
};
constexpr RecorderFirmware kBenchBefore = {0x2C, 0x1A6291BD};
constexpr RecorderFirmware kBenchAfter = {0x2D, 0x1A6291BD};
constexpr RecorderFirmware kUhdBefore = {0x0F, 0x16327E57};
constexpr RecorderFirmware kUhdAfter = {0x10, 0x16327E57};
constexpr RecorderFirmware kLiteBefore = {0x10, 0x1633975A};
constexpr RecorderFirmware kLiteAfter = {0x11, 0x1633975A};
constexpr uint32_t kLiteXmegaChecksum = 0xCC7FF2DD;

// A network recorder's TXT values, as it announces them.
QVariantMap novaTxt(const QString& uniqueId, const QString& release, const QString& build)
{
    return {{"product id", "be1d"},      {"unique id", uniqueId},
            {"hw version", "100"},       {"device name", "Stage " + uniqueId},
            {"internal version", build}, {"release version", release}};
}
const QString kCarriedBuild = QStringLiteral("8A4C1F02");
const QString kOlderBuild = QStringLiteral("8A4C1E00");

// The admin page of the recorders with a web server: the card's Cancel closes it, as a
// recorder's own page does.
QByteArray adminPage()
{
    return QByteArrayLiteral(R"(<!DOCTYPE html>
<html><head><title>Recorder</title>
<style>body { background: #2a6f97; color: #ffffff; font-family: sans-serif; margin: 24px; }
h1 { font-size: 28px; }</style></head>
<body><h1>Recorder admin page</h1><p id="status">waiting for channel</p>
<script>
function ready() {
  var common = window.webChannelObjects ? window.webChannelObjects['CommonDeviceAPI'] : null;
  if (!common) { setTimeout(ready, 100); return; }
  document.getElementById('status').textContent = 'connected';
  common.settingsCancelClicked.connect(function () { window.close(); });
}
ready();
</script></body></html>)");
}
// The page's background, as the screen shows it.
const QColor kPageColour(0x2a, 0x6f, 0x97);

QStringList labelTexts(QWidget* root)
{
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

// The value on the line of a details report that starts with this label, after the tab.
QString reportValue(const QString& report, const QString& label)
{
    for (const QString& line : report.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(label))
            return trimmed.mid(label.size()).trimmed();
    }
    return QString();
}

} // namespace

// The program as a person uses it: the host's window with the three built plug-ins loaded as
// the program loads them, on a real X server, a unit of every kind on the simulated bus and
// network recorders announced in the test's own network. Only mouse clicks on the shown
// widgets drive the window; the test itself only plugs, announces and unplugs units. The steps
// run in order on the one window, and each leaves numbered screenshots in
// PELLWORTH_SCREENSHOT_DIR.
class TestEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void everyUnitHasItsCard();
    void recorderUpdatesFromItsCard_data();
    void recorderUpdatesFromItsCard();
    void recorderSettingIsSavedToTheUnit();
    void deckControllerUpdatesFromTheGallery();
    void networkRecorderOpensItsPage();
    void usbRecorderUpdatesOverDfu();
    void legacyRecorderUpdatesOverTheBlockProtocol();
    void networkRecorderUpdatesOverHttp();
    void unpluggingAUnitRemovesItsCard();

private:
    // Takes the screen's picture of the window (and whatever is open over it) as step NN.
    void screenshot(const QString& step);
    // One click of the gallery's arrows towards the device of this name; whether it is shown.
    bool stepTowards(const QString& name);
    // Walks the gallery with its arrows to the device of this name, until it shows what
    // shows() looks for.
    bool showInGallery(const QString& name, const std::function<bool()>& shows = {});
    bool clickVisibleButton(const QString& text, QWidget* root = nullptr);
    // Setup on the device the gallery shows.
    bool clickSetup();
    // Confirms the update the window asks about and waits for it to end; the button that
    // closes its report is clicked.
    bool runUpdate(const QString& closeText);
    // Double-clicks the hidden spot with Alt held, and hands the window that opens to inspect,
    // which closes it. A modal window runs its own event loop: inspect then runs inside it.
    bool openHidden(QWidget* spot, const std::function<void(QWidget*)>& inspect);
    // The recorders' report in the build details, as the footer's hidden spot opens it.
    QString recorderReport();
    // Opens the device-details window of the open web-view card until the line of this label
    // shows the value; pictured as step when it does.
    bool cardDetailShows(const QString& label, const QString& value, const QString& step);
    bool closeCard(const char* cardClass, const QString& buttonText);
    VisibleDevice* deviceNamed(const QString& name) const;

    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Announcer> m_announcer;
    int m_step = 0;

    std::shared_ptr<Sim::Fx2Recorder> m_bench;
    std::shared_ptr<Sim::XmegaMailboxRecorder> m_uhd;
    std::shared_ptr<Sim::StreamingRecorder> m_lite;
    std::shared_ptr<Sim::DeckControllerUnit> m_deck;
    std::shared_ptr<Sim::NovaRecorder> m_nova;
    Sim::DeviceId m_liteId = 0;

    NovaWebServer m_usbPage;
    NovaWebServer m_netPage;
    FirmwareHttpServer m_httpRecorder;
    BlockRecorder m_legacyRecorder;
    FirmwareUpdatePeer* m_legacyPeer = nullptr;
};

void TestEndToEnd::initTestCase()
{
    if (!displayFailure().empty())
        SKIP_OR_FAIL_IN_CI("no X server: " + displayFailure());
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    SKIP_WITHOUT_PRIVATE_NETWORK();
    // The numbered pictures of an earlier run would mix with this run's.
    const QString shots = qEnvironmentVariable("PELLWORTH_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QDir folder(shots);
        for (const QString& name : folder.entryList({QStringLiteral("*.png")}, QDir::Files))
            folder.remove(name);
    }
    QVERIFY(PluginWindow::loadBranding(QStringLiteral("PellworthTest-e2e")));
    m_announcer = std::make_unique<Announcer>();
    const QString failure = m_announcer->start();
    if (!failure.isEmpty())
        SKIP_OR_FAIL_IN_CI(failure);

    // A recorder of each generation, each a release behind the firmware the plug-in carries.
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    m_bench = std::make_shared<Sim::Fx2Recorder>(0xC34D);
    m_bench->setFirmware(kBenchBefore.fpga, kBenchBefore.cpu);
    m_bench->setFirmwareAfterInstall(kBenchAfter.fpga, kBenchAfter.cpu);
    // Its flash takes a page at once: the model counts looks at the ready byte where the host
    // allows a page 20 ms of wall clock, which a loaded machine can use up in one look.
    for (uint8_t mode = 1; mode <= 4; ++mode)
        m_bench->flash(mode)->setBusyPolls(2, 0);
    bus.plug(m_bench);
    m_uhd = std::make_shared<Sim::XmegaMailboxRecorder>();
    m_uhd->setFirmware(kUhdBefore.fpga, kUhdBefore.cpu);
    m_uhd->setFirmwareAfterInstall(kUhdAfter.fpga, kUhdAfter.cpu);
    bus.plug(m_uhd);
    m_lite = std::make_shared<Sim::StreamingRecorder>();
    m_lite->setChecksums(kLiteXmegaChecksum, kLiteXmegaChecksum);
    m_lite->setVersions("4.1.0", kLiteBefore.cpu, kLiteBefore.fpga);
    m_lite->setVersionsAfterInstall("4.2.0", kLiteAfter.cpu, kLiteAfter.fpga);
    m_liteId = bus.plug(m_lite);

    // The deck controller, a release behind.
    m_deck = std::make_shared<Sim::DeckControllerUnit>();
    m_deck->setBank(0, Sim::ZynqBootImage::make(0x30000, 1));
    Sim::DeckControllerServices::State deckState = m_deck->services().state();
    deckState.releaseText = "7.0";
    deckState.cpuChecksum = 0xC0FB1F00;
    m_deck->services().setState(deckState);
    m_deck->setFirmwareAfterInstall("7.1", 0, 0xC0FB1F17);
    bus.plug(m_deck);

    // A USB recorder of the newer platform, a release behind, its page through the tunnel.
    QVERIFY(m_usbPage.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    m_usbPage.setAdminPage(adminPage());
    Sim::NovaRecorder::Options novaOptions;
    novaOptions.valuesAfterInstall = {{"BuildId", kCarriedBuild.toStdString()},
                                      {"ReleaseVersion", "8.4"}};
    m_nova = std::make_shared<Sim::NovaRecorder>(novaOptions);
    m_nova->keyValue().setValue("BuildId", kOlderBuild.toStdString());
    m_nova->keyValue().setValue("ReleaseVersion", "8.3.9");
    m_nova->tunnel().mapPort(80, m_usbPage.port());
    bus.plug(m_nova);

    // Network recorders: one current with its admin page, one a release behind that updates
    // over HTTP, and one of the older platform that updates over the block protocol.
    QVERIFY(m_netPage.listen(QHostAddress(QStringLiteral("127.0.0.1")), 80));
    m_netPage.setAdminPage(adminPage());
    QVERIFY(m_announcer->registerService("Stage Net", novaTxt("net1", "8.4", kCarriedBuild), 80,
                                         "stagenet", "_http._tcp", "127.0.0.1"));
    QVERIFY(m_httpRecorder.listen(QHostAddress(QStringLiteral("127.0.0.6")), 80));
    QVERIFY(m_announcer->registerService("Stage Http", novaTxt("http1", "8.3.9", kOlderBuild), 80,
                                         "stagehttp", "_http._tcp", "127.0.0.6"));
    QVERIFY(m_legacyRecorder.listen(QHostAddress(QStringLiteral("127.0.0.5"))));
    m_legacyPeer = new FirmwareUpdatePeer(&m_legacyRecorder);
    QVERIFY(m_announcer->registerService("Stage Legacy", novaTxt("legacy1", "8.2", kOlderBuild),
                                         m_legacyRecorder.port(), "stagelegacy",
                                         "_cvn_blockcfg._tcp", "127.0.0.5"));

    // The program's own DNS-SD and web engine, and every plug-in it finds beside it.
    MainWindow::Options options;
    m_window =
        PluginWindow::open(pluginDirectories(qEnvironmentVariable("PELLWORTH_BIN_DIR")), options);
    QCOMPARE(m_window->families().size(), 3);
    m_window->move(0, 0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isStarted(), kWaitMs);
}

void TestEndToEnd::cleanupTestCase()
{
    if (m_window)
        m_window->close();
    m_window.reset();
    Sim::UsbBus::instance().reset();
}

void TestEndToEnd::cleanup()
{
    // A list a failed step left open would take every click of the steps after it.
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
}

void TestEndToEnd::screenshot(const QString& step)
{
    // What has just changed is drawn first.
    QTest::qWait(300);
    const QRect frame = m_window->frameGeometry();
    const QPixmap picture =
        m_window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    // A picture of one colour would show nothing: the server drew nothing of the window.
    const QImage image = picture.toImage();
    std::set<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 32; y += 7)
        for (int x = 0; x < image.width() && colours.size() < 32; x += 7)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() >= 8, qPrintable(step));
    const QString name =
        QStringLiteral("%1-%2.png").arg(++m_step, 2, 10, QLatin1Char('0')).arg(step);
    QVERIFY2(PluginWindow::savePicture(picture, name), qPrintable(name));
}

VisibleDevice* TestEndToEnd::deviceNamed(const QString& name) const
{
    DeviceList* list = m_window->deviceList();
    for (int i = 0; i < list->count(); ++i)
        if (list->deviceAt(i)->displayName() == name)
            return list->deviceAt(i);
    return nullptr;
}

bool TestEndToEnd::stepTowards(const QString& name)
{
    VisibleDevicesWidget* gallery = m_window->gallery();
    DeviceList* list = m_window->deviceList();
    if (gallery->nameLabel()->text() == name)
        return true;
    const int target = list->indexOf(deviceNamed(name));
    if (target < 0)
        return false;
    QAbstractButton* arrow =
        target > list->selectedIndex() ? gallery->rightArrow() : gallery->leftArrow();
    if (arrow->isVisible())
        QTest::mouseClick(arrow, Qt::LeftButton);
    return gallery->nameLabel()->text() == name;
}

bool TestEndToEnd::showInGallery(const QString& name, const std::function<bool()>& shows)
{
    return QTest::qWaitFor([&] { return stepTowards(name) && (!shows || shows()); }, kWaitMs);
}

bool TestEndToEnd::clickVisibleButton(const QString& text, QWidget* root)
{
    QWidget* where = root ? root : m_window.get();
    if (!QTest::qWaitFor([&] { return visibleButton(where, text) != nullptr; }, kWaitMs))
        return false;
    QTest::mouseClick(visibleButton(where, text), Qt::LeftButton);
    return true;
}

bool TestEndToEnd::clickSetup()
{
    QAbstractButton* setup = m_window->gallery()->setupButton();
    if (!QTest::qWaitFor([setup] { return setup->isVisible(); }, kWaitMs))
        return false;
    QTest::mouseClick(setup, Qt::LeftButton);
    return true;
}

bool TestEndToEnd::runUpdate(const QString& closeText)
{
    if (!clickVisibleButton(QStringLiteral("Update")))
        return false;
    if (!QTest::qWaitFor(
            [&] { return showsText(m_window.get(), QStringLiteral("Update Complete!")); }, kWaitMs))
        return false;
    screenshot(QStringLiteral("update-complete"));
    return clickVisibleButton(closeText);
}

bool TestEndToEnd::openHidden(QWidget* spot, const std::function<void(QWidget*)>& inspect)
{
    std::set<QWidget*> before;
    for (QWidget* w : QApplication::topLevelWidgets())
        before.insert(w);
    bool handled = false;
    QTimer watch;
    watch.setInterval(50);
    connect(&watch, &QTimer::timeout, this, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (before.count(w) || !w->isVisible() || !qobject_cast<QDialog*>(w))
                continue;
            watch.stop();
            inspect(w);
            handled = true;
            return;
        }
    });
    watch.start();
    QTest::mouseDClick(spot, Qt::LeftButton, Qt::AltModifier, QPoint(10, 10));
    return QTest::qWaitFor([&] { return handled; }, kWaitMs);
}

QString TestEndToEnd::recorderReport()
{
    QString report;
    QWidget* spot = findByClass(m_window->footer(), "SecretButton");
    const bool opened = spot && openHidden(spot, [&](QWidget* dialog) {
                            auto* tabs = dialog->findChild<QTabWidget*>();
                            for (int i = 0; tabs && i < tabs->count(); ++i) {
                                if (tabs->tabText(i) != QLatin1String("Kestrel"))
                                    continue;
                                QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                                                  tabs->tabBar()->tabRect(i).center());
                                report = labelTexts(tabs->widget(i)).join(QLatin1Char('\n'));
                            }
                            screenshot(QStringLiteral("build-details"));
                            clickVisibleButton(QStringLiteral("Close"), dialog);
                        });
    return opened ? report : QString();
}

bool TestEndToEnd::cardDetailShows(const QString& label, const QString& value, const QString& step)
{
    return QTest::qWaitFor(
        [&] {
            QWidget* card = findByClass(m_window.get(), "NovaProductCard");
            QWidget* header = card ? findByClass(card, "CardHeader") : nullptr;
            QWidget* spot = header ? findByClass(header, "SecretButton") : nullptr;
            bool shows = false;
            const bool opened = spot && openHidden(spot, [&](QWidget* dialog) {
                                    const QString report =
                                        labelTexts(dialog).join(QLatin1Char('\n'));
                                    shows = reportValue(report, label + QLatin1Char(':')) == value;
                                    if (shows)
                                        screenshot(step);
                                    clickVisibleButton(QStringLiteral("Close"), dialog);
                                });
            return opened && shows;
        },
        kWaitMs);
}

bool TestEndToEnd::closeCard(const char* cardClass, const QString& buttonText)
{
    QWidget* card = nullptr;
    if (!QTest::qWaitFor([&] { return (card = findByClass(m_window.get(), cardClass)); }, kWaitMs))
        return false;
    const QPointer<QWidget> guard(card);
    if (!clickVisibleButton(buttonText, card))
        return false;
    return QTest::qWaitFor([&] { return !guard; }, kWaitMs);
}

void TestEndToEnd::everyUnitHasItsCard()
{
    const QStringList names = {"Kestrel Bench", "Kestrel Bench UHD", "Kestrel Bench Lite",
                               "Alder",         "Kestrel Alder One", "Stage net1",
                               "Stage http1",   "Stage legacy1"};
    for (const QString& name : names)
        QTRY_VERIFY2_WITH_TIMEOUT(deviceNamed(name), qPrintable(name), kWaitMs);
    QCOMPARE(m_window->deviceList()->count(), names.size());
    // Through the gallery from its first card to its last.
    DeviceList* list = m_window->deviceList();
    QVERIFY(showInGallery(list->deviceAt(0)->displayName()));
    for (int i = 0; i < list->count(); ++i) {
        const QString name = list->deviceAt(i)->displayName();
        QVERIFY2(showInGallery(name), qPrintable(name));
        screenshot(QStringLiteral("gallery-") + name.toLower().replace(QLatin1Char(' '), '-'));
    }
}

void TestEndToEnd::recorderUpdatesFromItsCard_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("fpgaAfter");
    QTest::newRow("fx2") << "Kestrel Bench" << int(kBenchAfter.fpga);
    QTest::newRow("xmega") << "Kestrel Bench UHD" << int(kUhdAfter.fpga);
    QTest::newRow("streaming") << "Kestrel Bench Lite" << int(kLiteAfter.fpga);
}

// A recorder behind the carried firmware asks for its update when its card opens; once it has
// restarted into the new firmware its card opens on its settings, and the build details show
// the new firmware.
void TestEndToEnd::recorderUpdatesFromItsCard()
{
    QFETCH(QString, name);
    QFETCH(int, fpgaAfter);
    QVERIFY(showInGallery(name));
    QVERIFY(clickSetup());
    QVERIFY(QTest::qWaitFor(
        [&] { return showsText(m_window.get(), QStringLiteral("Update Required!")); }, kWaitMs));
    screenshot(QStringLiteral("update-required"));
    QVERIFY(runUpdate(QStringLiteral("Done")));
    // Back from its restart, the card shows the recorder's settings.
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(m_window.get(), "KestrelSettingsPage") &&
                                 findByClass(m_window.get(), "KestrelSettingsPage")->isVisible(),
                             kWaitMs);
    screenshot(QStringLiteral("recorder-updated"));
    QVERIFY(closeCard("KestrelProductCard", QStringLiteral("Cancel")));

    const QString report = recorderReport();
    // The recorder's own lines, under its model's name.
    const int at = report.indexOf(QStringLiteral("\n\t") + name + QStringLiteral(": \n"));
    QVERIFY2(at >= 0, qPrintable(report));
    const QString fpga = reportValue(report.mid(at + 2), QStringLiteral("FPGA Firmware:"));
    QCOMPARE(fpga, QStringLiteral("0x%1").arg(fpgaAfter, 2, 16, QLatin1Char('0')));
}

void TestEndToEnd::recorderSettingIsSavedToTheUnit()
{
    QVERIFY(showInGallery(QStringLiteral("Kestrel Bench")));
    QVERIFY(clickSetup());
    QWidget* page = nullptr;
    QVERIFY(QTest::qWaitFor(
        [&] {
            page = findByClass(m_window.get(), "KestrelSettingsPage");
            return page && page->isVisible();
        },
        kWaitMs));
    // The trigger, picked from its list.
    QList<QComboBox*> boxes = page->findChildren<QComboBox*>();
    QComboBox* trigger = nullptr;
    for (QComboBox* box : boxes)
        if (box->findText(QStringLiteral("Timecode Run")) >= 0)
            trigger = box;
    QVERIFY(trigger);
    QVERIFY(trigger->currentText() != QLatin1String("Timecode Run"));
    QTest::mouseClick(trigger, Qt::LeftButton);
    QAbstractItemView* list = trigger->view();
    QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), kWaitMs);
    screenshot(QStringLiteral("trigger-list"));
    // The list takes no release as quick as a double click after it opens.
    QTest::qWait(QApplication::doubleClickInterval());
    const QRect item = list->visualRect(list->model()->index(trigger->findText("Timecode Run"), 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_COMPARE_WITH_TIMEOUT(trigger->currentText(), QStringLiteral("Timecode Run"), kWaitMs);
    screenshot(QStringLiteral("trigger-changed"));
    QVERIFY(closeCard("KestrelProductCard", QStringLiteral("Save")));
    QTRY_COMPARE_WITH_TIMEOUT(m_bench->settings().value(kTriggerKey).value_or(0), kTimecodeRun,
                              kWaitMs);

    // Opened again, the card reads the unit's setting back.
    QVERIFY(clickSetup());
    QVERIFY(QTest::qWaitFor(
        [&] {
            page = findByClass(m_window.get(), "KestrelSettingsPage");
            return page && page->isVisible();
        },
        kWaitMs));
    boxes = page->findChildren<QComboBox*>();
    QVERIFY(std::any_of(boxes.begin(), boxes.end(), [](QComboBox* box) {
        return box->currentText() == QLatin1String("Timecode Run");
    }));
    screenshot(QStringLiteral("trigger-read-back"));
    QVERIFY(closeCard("KestrelProductCard", QStringLiteral("Cancel")));
}

// The gallery shows the deck controller's version and offers its update; after the update and
// the restart it shows the new version.
void TestEndToEnd::deckControllerUpdatesFromTheGallery()
{
    VisibleDevicesWidget* gallery = m_window->gallery();
    QVERIFY(showInGallery(QStringLiteral("Alder")));
    QTRY_VERIFY_WITH_TIMEOUT(gallery->versionLabel()->text().endsWith(QLatin1String(" 7.0")),
                             kWaitMs);
    QVERIFY(gallery->updateButton()->isVisible());
    screenshot(QStringLiteral("deck-update-available"));
    QTest::mouseClick(gallery->updateButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor(
        [&] { return showsText(m_window.get(), QStringLiteral("Update Available!")); }, kWaitMs));
    QVERIFY(runUpdate(QStringLiteral("Restart")));
    // The unit leaves for its restart and comes back as a new device.
    QVERIFY(showInGallery(QStringLiteral("Alder"), [gallery] {
        return gallery->versionLabel()->text().endsWith(QLatin1String(" 7.1")) &&
               gallery->updateStateLabel()->text() == QLatin1String("Software is up to date.");
    }));
    QVERIFY(!gallery->updateButton()->isVisible());
    screenshot(QStringLiteral("deck-updated"));
    // The deck controller's version carries its label; the gallery shows it once.
    QCOMPARE(gallery->versionLabel()->text(), QStringLiteral("Version 7.1"));
}

void TestEndToEnd::networkRecorderOpensItsPage()
{
    QVERIFY(showInGallery(QStringLiteral("Stage net1")));
    QVERIFY(clickSetup());
    QTRY_VERIFY_WITH_TIMEOUT(m_netPage.count("GET", "/admin/") > 0, kWaitMs);
    QWidget* view = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((view = findByClass(m_window.get(), "WebView")) && view->isVisible(),
                             kWaitMs);
    // The page as the screen shows it: its own colour fills the view.
    const QPoint centre = view->mapToGlobal(view->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(m_window->screen()
                                     ->grabWindow(0, centre.x() - 100, centre.y() + 100, 1, 1)
                                     .toImage()
                                     .pixelColor(0, 0) == kPageColour,
                             kWaitMs);
    screenshot(QStringLiteral("network-recorder-page"));
    // Cancel reaches the page, which closes the card.
    QVERIFY(closeCard("NovaProductCard", QStringLiteral("Cancel")));
}

void TestEndToEnd::usbRecorderUpdatesOverDfu()
{
    QVERIFY(showInGallery(QStringLiteral("Kestrel Alder One")));
    QVERIFY(clickSetup());
    QVERIFY(QTest::qWaitFor(
        [&] { return showsText(m_window.get(), QStringLiteral("Update Available!")); }, kWaitMs));
    screenshot(QStringLiteral("usb-update-available"));
    QVERIFY(runUpdate(QStringLiteral("Done")));
    QCOMPARE(m_nova->dfu().installs(), 1);
    // The card of the unit that came back opens on its page, through the tunnel.
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(m_window.get(), "WebView") &&
                                 findByClass(m_window.get(), "WebView")->isVisible(),
                             kWaitMs);
    QVERIFY(cardDetailShows(QStringLiteral("Release Version"), QStringLiteral("8.4"),
                            QStringLiteral("usb-updated-details")));
    screenshot(QStringLiteral("usb-updated-page"));
    QVERIFY(closeCard("NovaProductCard", QStringLiteral("Cancel")));
}

void TestEndToEnd::legacyRecorderUpdatesOverTheBlockProtocol()
{
    connect(&m_legacyRecorder, &BlockRecorder::blockReceived, this,
            [this](const BlockRecorder::ReceivedBlock& block) {
                // Back from its restart, it announces the carried release.
                if (block.name == "FIRMWARE UPDATE")
                    m_announcer->updateService(
                        "Stage Legacy", novaTxt("legacy1", "8.3", kCarriedBuild),
                        m_legacyRecorder.port(), "stagelegacy", "_cvn_blockcfg._tcp", "127.0.0.5");
            });
    QVERIFY(showInGallery(QStringLiteral("Stage legacy1")));
    QVERIFY(clickSetup());
    QVERIFY(QTest::qWaitFor(
        [&] { return showsText(m_window.get(), QStringLiteral("Update Required!")); }, kWaitMs));
    screenshot(QStringLiteral("legacy-update-required"));
    QVERIFY(runUpdate(QStringLiteral("Done")));
    QCOMPARE(m_legacyPeer->reboots(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(m_window.get(), "NovaProductCard"), kWaitMs);
    QVERIFY(cardDetailShows(QStringLiteral("Release Version"), QStringLiteral("8.3"),
                            QStringLiteral("legacy-updated-details")));
    QVERIFY(closeCard("NovaProductCard", QStringLiteral("Cancel")));
}

void TestEndToEnd::networkRecorderUpdatesOverHttp()
{
    // After the finalize the recorder is away for one version query; back, it announces the
    // carried release.
    m_httpRecorder.setRebootQueries(1);
    int queriesAfterFinalize = -1;
    connect(&m_httpRecorder, &FirmwareHttpServer::requestReceived, this,
            [this, &queriesAfterFinalize](const QByteArray& method, const QByteArray& path) {
                if (method == "PUT" && path.endsWith("/updateFinalize"))
                    queriesAfterFinalize = 0;
                else if (method == "GET" && path.endsWith("/info") && queriesAfterFinalize >= 0 &&
                         ++queriesAfterFinalize == 2)
                    m_announcer->updateService("Stage Http", novaTxt("http1", "8.4", kCarriedBuild),
                                               80, "stagehttp", "_http._tcp", "127.0.0.6");
            });
    QVERIFY(showInGallery(QStringLiteral("Stage http1")));
    QVERIFY(clickSetup());
    QVERIFY(QTest::qWaitFor(
        [&] { return showsText(m_window.get(), QStringLiteral("Update Available!")); }, kWaitMs));
    screenshot(QStringLiteral("http-update-available"));
    QVERIFY(runUpdate(QStringLiteral("Done")));
    QVERIFY(m_httpRecorder.paths().contains("PUT /v1/firmware/updateFinalize"));
    QVERIFY(!m_httpRecorder.uploaded().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(m_window.get(), "NovaProductCard"), kWaitMs);
    QVERIFY(cardDetailShows(QStringLiteral("Release Version"), QStringLiteral("8.4"),
                            QStringLiteral("http-updated-details")));
    QVERIFY(closeCard("NovaProductCard", QStringLiteral("Cancel")));
    m_httpRecorder.disconnect(this);
}

void TestEndToEnd::unpluggingAUnitRemovesItsCard()
{
    QVERIFY(showInGallery(QStringLiteral("Kestrel Bench Lite")));
    QVERIFY(clickSetup());
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(m_window.get(), "KestrelSettingsPage") &&
                                 findByClass(m_window.get(), "KestrelSettingsPage")->isVisible(),
                             kWaitMs);
    screenshot(QStringLiteral("before-unplug"));
    const int before = m_window->deviceList()->count();
    QVERIFY(Sim::UsbBus::instance().unplug(m_liteId));
    QTRY_VERIFY_WITH_TIMEOUT(!findByClass(m_window.get(), "KestrelProductCard"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!deviceNamed(QStringLiteral("Kestrel Bench Lite")), kWaitMs);
    QCOMPARE(m_window->deviceList()->count(), before - 1);
    QVERIFY(deviceNamed(QStringLiteral("Kestrel Bench")));
    screenshot(QStringLiteral("after-unplug"));
}

int main(int argc, char** argv)
{
    // Before any thread starts: the window, the announcer and the X server stay off the
    // machine's network, and the server is forked from a process of one thread.
    PrivateNetwork::enter();
    XvfbDisplay display;
    displayFailure() = display.start();
    if (displayFailure().empty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(display.name()));
    } else {
        // Room for the test to say why it cannot run.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // As the program starts its web engine.
    QByteArray chromiumFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    chromiumFlags += chromiumFlags.isEmpty() ? "--disable-gpu" : " --disable-gpu";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", chromiumFlags);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int result = 0;
    {
        QApplication app(argc, argv);
        TestEndToEnd test;
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "tst_program.moc"
