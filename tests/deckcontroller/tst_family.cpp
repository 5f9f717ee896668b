#include "deckfamilyfixture.h"
#include "framework/connectingstatuspage.h"
#include "plugins/deckcontroller/deckcontrollerproductcard.h"
#include "plugins/deckcontroller/deckcontrollersettingspage.h"
#include "plugins/deckcontroller/firmwareupdatecontroller.h"
#include "plugins/deckcontroller/visibledeckcontrollerusb.h"
#include "plugins/shared/firmwarefilelocator.h"

#include <QLineEdit>
#include <QPointer>
#include <QtTest>

namespace {

std::shared_ptr<Sim::DeckControllerUnit> unitWithId(uint8_t last)
{
    Sim::DeckControllerUnit::DeckOptions options;
    options.uniqueId[15] = last;
    return DeckBench::bootableUnit(options);
}

DeckControllerProductCard* openCard(DeckFamilyFixture& f, VisibleDeckController* device)
{
    f.family->showDevice(device);
    const auto cards = f.window->findChildren<DeckControllerProductCard*>();
    return cards.isEmpty() ? nullptr : cards.last();
}

const char* const kEmptyReport = "\n** Available Firmware:\n"
                                 "\nKestrel Alder Control:\n"
                                 "\tProduct Id:    0xbe32\n"
                                 "\tXMEGA:         0x7f6403e6\n"
                                 "\tCPU:           0xc0fb1f17\n"
                                 "\tFPGA:          0x00000000\n";

} // namespace

// The family's list of units on the simulated bus, its cards and its support report.
class TestFamily : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void unplugRemovesEntryAndCard();
    void reenumerationReplacesTheEntry();
    void announcedRebootKeepsTheCard();
    void otherUnitsAreKeptApart();
    void cardShowsSettingsOnceConnected();
    void saveSendsOnlyAnAcceptableName_data();
    void saveSendsOnlyAnAcceptableName();
    void recoveryUnitOpensTheUpdate();
    void secondUpdateRequestReplacesTheFirst();
    void reportWithoutUnits();
    void reportWithAUnit();
    void reportLines_data();
    void reportLines();
};

void TestFamily::initTestCase()
{
    // The carried package of the build, for the units' available firmware.
    FirmwareFileLocator::setResourcesDirectory(
        (qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/Tendwell/PlugIns/Brindle/Resources")
            .toStdString());
}

void TestFamily::unplugRemovesEntryAndCard()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(unitWithId(1));
    QVERIFY(device);
    QCOMPARE(f.family->visibleDevices().size(), 1);
    QPointer<VisibleDeckController> guard(device);
    QPointer<DeckControllerProductCard> card(openCard(f, device));
    QVERIFY(card);
    QVERIFY(card->isVisible());

    QVERIFY(Sim::UsbBus::instance().unplug(f.units[0]->id()));
    QTRY_COMPARE_WITH_TIMEOUT(f.removals->count(), 1, kWaitMs);
    QCOMPARE(f.removals->at(0).at(0).value<VisibleDevice*>(), static_cast<VisibleDevice*>(device));
    QVERIFY(f.family->visibleDevices().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!card, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!guard, kWaitMs);
}

void TestFamily::reenumerationReplacesTheEntry()
{
    DeckFamilyFixture f;
    VisibleDeckController* first = f.plug(unitWithId(2));
    QVERIFY(first);
    QPointer<VisibleDeckController> guard(first);
    // Not announced as a reboot: a removal, then an arrival under the same unique id.
    QVERIFY(Sim::UsbBus::instance().reenumerate(f.units[0]->id()));
    QTRY_COMPARE_WITH_TIMEOUT(f.arrivals->count(), 2, kWaitMs);
    QCOMPARE(f.removals->count(), 1);
    QCOMPARE(f.removals->at(0).at(0).value<VisibleDevice*>(), static_cast<VisibleDevice*>(first));
    QCOMPARE(f.family->visibleDevices().size(), 1);
    QVERIFY(f.family->visibleDevices().first() != first);
    QTRY_VERIFY_WITH_TIMEOUT(!guard, kWaitMs);
    QCOMPARE(f.family->visibleDevices().first()->uniqueId(),
             std::string("dec00001420102030405060708090a02"));
}

void TestFamily::announcedRebootKeepsTheCard()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(unitWithId(3));
    QVERIFY(device);
    QPointer<DeckControllerProductCard> card(openCard(f, device));
    QVERIFY(card);
    auto* usb = static_cast<VisibleDeckControllerUSB*>(device);
    const auto before =
        f.family->qtNotifier()->find(DeviceId::fromBytes(f.units[0]->uniqueId().data())).device();
    // A reboot the registry was told of: the unit leaves and comes back under its id.
    QVERIFY(f.family->qtNotifier()->registry()->announceReboot(
        DeviceId::fromBytes(f.units[0]->uniqueId().data()), 5000));
    QVERIFY(usb->xmegaDevice()->reboot());
    QTRY_VERIFY_WITH_TIMEOUT(
        f.family->qtNotifier()->find(DeviceId::fromBytes(f.units[0]->uniqueId().data())).device() !=
            before,
        10000);
    QCoreApplication::processEvents();
    QCOMPARE(f.removals->count(), 0);
    QCOMPARE(f.arrivals->count(), 1);
    QVERIFY(card);
    // The visible device reaches the unit again, once its application is up.
    QTRY_COMPARE_WITH_TIMEOUT(device->displayName(), QStringLiteral("Alder"), kWaitMs);
}

void TestFamily::otherUnitsAreKeptApart()
{
    DeckFamilyFixture f;
    VisibleDeckController* a = f.plug(unitWithId(4));
    VisibleDeckController* b = f.plug(unitWithId(5));
    QVERIFY(a && b);
    QCOMPARE(f.family->visibleDevices(), (QList<VisibleDeckController*>{b, a}));
    QVERIFY(Sim::UsbBus::instance().unplug(f.units[0]->id()));
    QTRY_COMPARE_WITH_TIMEOUT(f.removals->count(), 1, kWaitMs);
    QCOMPARE(f.family->visibleDevices(), QList<VisibleDeckController*>{b});
}

void TestFamily::cardShowsSettingsOnceConnected()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(unitWithId(6));
    QVERIFY(device);
    DeckControllerProductCard* card = openCard(f, device);
    QVERIFY(card);
    QTRY_COMPARE_WITH_TIMEOUT(card->currentPage(), static_cast<StatusPage*>(card->settingsPage()),
                              kWaitMs);
    QVERIFY(!card->connectionTimer()->isActive());
    QCOMPARE(card->settingsPage()->nameField()->text(), QStringLiteral("Alder"));

    // Already connected: a second card shows the settings at once.
    DeckControllerProductCard* second = openCard(f, device);
    QVERIFY(second != card);
    QCOMPARE(second->currentPage(), static_cast<StatusPage*>(second->settingsPage()));
    QVERIFY(!second->connectionTimer()->isActive());
}

void TestFamily::saveSendsOnlyAnAcceptableName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("plain") << "Studio B"
                           << "Studio B";
    QTest::newRow("spaces around") << "  Studio B "
                                   << "Studio B";
    QTest::newRow("only spaces") << "   "
                                 << "Alder";
    QTest::newRow("63 bytes") << QString(63, 'x') << "Alder";
    QTest::newRow("62 bytes") << QString(62, 'x') << QString(62, 'x');
}

void TestFamily::saveSendsOnlyAnAcceptableName()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(unitWithId(7));
    QVERIFY(device);
    QPointer<DeckControllerProductCard> card(openCard(f, device));
    QTRY_COMPARE_WITH_TIMEOUT(card->currentPage(), static_cast<StatusPage*>(card->settingsPage()),
                              kWaitMs);
    const int savesBefore = f.units[0]->services().state().saves;
    // Set as a program would: the field's own rule does not stop it.
    card->settingsPage()->nameField()->setText(typed);
    QMetaObject::invokeMethod(card->settingsPage(), "onSavePressed");
    const auto state = f.units[0]->services().state();
    QCOMPARE(QString::fromStdString(state.unitName), stored);
    QCOMPARE(QString::fromStdString(state.savedUnitName), stored);
    QCOMPARE(state.saves, savesBefore + 1);
    QTRY_VERIFY_WITH_TIMEOUT(!card, kWaitMs);
}

void TestFamily::recoveryUnitOpensTheUpdate()
{
    DeckFamilyFixture f;
    // No bootable bank: the unit stays in recovery.
    VisibleDeckController* device =
        f.plug(std::make_shared<Sim::DeckControllerUnit>(Sim::DeckControllerUnit::DeckOptions{}));
    QVERIFY(device);
    QVERIFY(device->displayName().endsWith(QStringLiteral(" (Recovery)")));
    QVERIFY(device->needsFirmwareUpdate());
    f.family->showDevice(device);
    QVERIFY(f.window->findChildren<DeckControllerProductCard*>().isEmpty());
    QVERIFY(f.family->firmwareUpdateController());
    QCOMPARE(f.family->firmwareUpdateController()->dialog()->state(), 0);
}

void TestFamily::secondUpdateRequestReplacesTheFirst()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(unitWithId(8));
    QVERIFY(device);
    f.family->updateFirmware(device);
    QPointer<FirmwareUpdateController> first(f.family->firmwareUpdateController());
    QPointer<FirmwareUpdateDialog> firstDialog(first->dialog());
    f.family->updateFirmware(device);
    QVERIFY(!first);
    QVERIFY(!firstDialog);
    QVERIFY(f.family->firmwareUpdateController());
    QVERIFY(f.family->firmwareUpdateController()->dialog()->isVisible());
}

void TestFamily::reportWithoutUnits()
{
    DeckFamilyFixture f;
    QCOMPARE(f.family->buildDetails(), QString::fromLatin1(kEmptyReport));
}

void TestFamily::reportWithAUnit()
{
    DeckFamilyFixture f;
    QVERIFY(f.plug(unitWithId(9)));
    const QString report = f.family->buildDetails();
    const QString expected = QStringLiteral("\n** Connected Devices:\n"
                                            "\nKestrel Alder Control (USB):\n"
                                            "\tName:          Alder\n"
                                            "\tUnique Id:     dec00001420102030405060708090a09\n"
                                            "\tProduct Id:    0xbe32\n"
                                            "\tRevision Id:   0x0001\n"
                                            "\tXMEGA:         0x9abcdef0\n"
                                            "\tCPU:           0xc0fb1f17\n"
                                            "\tFPGA:          0x00000000\n") +
                             QString::fromLatin1(kEmptyReport);
    QCOMPARE(report, expected);
}

void TestFamily::reportLines_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("line");
    QTest::newRow("short key") << "Name"
                               << "\tName:          v\n";
    QTest::newRow("13 characters") << "ThirteenChars"
                                   << "\tThirteenChars: v\n";
    QTest::newRow("14 characters") << "FourteenChars!"
                                   << "\tFourteenChars!:v\n";
    QTest::newRow("longer") << "AVeryLongKeyIndeed"
                            << "\tAVeryLongKeyIndeed:v\n";
}

void TestFamily::reportLines()
{
    QFETCH(QString, key);
    QFETCH(QString, line);
    QCOMPARE(DeckControllerFamily::reportLine(key, QStringLiteral("v")), line);
    QCOMPARE(DeckControllerFamily::keyValueBlock("A:1\nno colon"),
             QStringLiteral("\tA:             1\n\tno colon:      \n"));
}

QTEST_MAIN(TestFamily)
#include "tst_family.moc"
