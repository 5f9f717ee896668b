#include "deckbench.h"
#include "framework/appbranding.h"
#include "framework/contract/devicelist.h"
#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"
#include "pluginwindow.h"
#include "privatenetwork.h"
#include "programcopy.h"

#include <QApplication>
#include <QtTest>

namespace {

constexpr int kWaitMs = 30000;

QString brindleFolder()
{
    return PluginWindow::pluginFolder(QStringLiteral("Brindle"));
}

using PluginWindow::findByClass;

} // namespace

// The program's window with the built Brindle plug-in and a simulated deck controller on the
// bus, and the program itself started with the plug-in on the simulated bus.
class TestProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void windowShowsTheDeckControllersCard();
    void programStartsWithThePlugIn();
};

void TestProgram::initTestCase()
{
    QVERIFY(PluginWindow::loadBranding(QStringLiteral("PellworthTest-deck")));
    QVERIFY(QFileInfo::exists(brindleFolder() + "/Resources/data-be32.bin"));
}

void TestProgram::cleanup()
{
    Sim::UsbBus::instance().reset();
}

void TestProgram::windowShowsTheDeckControllersCard()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    // The unit is on the bus before the program looks.
    auto unit = DeckBench::bootableUnit();
    Sim::UsbBus::instance().plug(unit);

    auto window = PluginWindow::open(brindleFolder());
    QCOMPARE(window->families().size(), 1);
    QCOMPARE(window->families().first()->name(), QStringLiteral("DeckController"));
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(window->isStarted(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(window->deviceList()->count(), 1, 10000);
    VisibleDevice* device = window->deviceList()->deviceAt(0);
    QCOMPARE(device->displayName(), QStringLiteral("Alder"));
    QCOMPARE(device->productName(), QStringLiteral("Kestrel Alder Control"));

    window->families().first()->showDevice(device);
    QWidget* card = findByClass(window.get(), "DeckControllerProductCard");
    QVERIFY(card);
    QTRY_VERIFY_WITH_TIMEOUT(findByClass(card, "DeckControllerSettingsPage") &&
                                 findByClass(card, "DeckControllerSettingsPage")->isVisible(),
                             15000);
    QTest::qWait(100);
    QVERIFY(PluginWindow::saveScreenshot(window.get(), QStringLiteral("deck_controller_card.png")));

    // Unplugged, the card closes and the gallery is empty again.
    QVERIFY(Sim::UsbBus::instance().unplug(unit->id()));
    QTRY_COMPARE_WITH_TIMEOUT(window->deviceList()->count(), 0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!findByClass(window.get(), "DeckControllerProductCard"), kWaitMs);
    window->close();
}

void TestProgram::programStartsWithThePlugIn()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    ProgramCopy copy(brindleFolder());
    QVERIFY(copy.isValid());
    QProcessEnvironment environment = copy.environment();
    environment.insert(QStringLiteral("PELLWORTH_USB_BACKEND"), QStringLiteral("sim"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(copy.program(), {});
    QVERIFY(program.waitForStarted(5000));
    QVERIFY(ProgramCopy::waitUntilItCatchesTermination(program));
    // Still running after a moment: the plug-in loaded and watches the bus.
    QVERIFY(!program.waitForFinished(1500));
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

PRIVATE_NETWORK_TEST_MAIN_WITH(QApplication, TestProgram)

#include "tst_program.moc"
