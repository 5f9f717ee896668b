#include "deckfamilyfixture.h"
#include "plugins/deckcontroller/firmwarecatalogue.h"
#include "plugins/deckcontroller/firmwareupdatecontroller.h"
#include "plugins/deckcontroller/visibledeckcontrollerusb.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "sim/deckcontroller/zynqbootimage.h"

#include <QPointer>
#include <QProgressBar>
#include <QtTest>

namespace {

// The processor image of the carried package, as a bank holds it.
std::vector<uint8_t> carriedBank()
{
    FirmwareCatalogue* catalogue = FirmwareCatalogue::getCatalogue(0xBE32);
    if (!catalogue || catalogue->entryCount() != 1)
        return {};
    FirmwarePackageEntry* entry = catalogue->getEntry(0, true);
    if (!entry || !entry->data())
        return {};
    std::vector<uint8_t> bank(Sim::DeckControllerUnit::kBankSize, 0xFF);
    std::copy(entry->data(), entry->data() + entry->size(), bank.begin());
    return bank;
}

} // namespace

// Firmware updates of a listed unit through the family's controller and dialog, with the
// package the build carries.
class TestUpdate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void updateWritesBothBanksAndRestartReboots();
    void cancelDoesNothing();
    void unitLeavingFailsTheUpdate();
    void familyWaitsForARunningUpdate();
};

void TestUpdate::initTestCase()
{
    FirmwareCatalogue::dropCatalogues();
    FirmwareFileLocator::setResourcesDirectory(
        (qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/Tendwell/PlugIns/Brindle/Resources")
            .toStdString());
    QVERIFY(!carriedBank().empty());
    QVERIFY(Sim::ZynqBootImage::bootable(carriedBank().data(), carriedBank().size()));
}

void TestUpdate::cleanupTestCase()
{
    FirmwareCatalogue::dropCatalogues();
}

void TestUpdate::updateWritesBothBanksAndRestartReboots()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(DeckBench::bootableUnit());
    QVERIFY(device);
    Sim::DeckControllerUnit& unit = *f.units[0];
    QVERIFY(unit.bank(0) != carriedBank());
    QTRY_VERIFY_WITH_TIMEOUT(device->isConnected(), kWaitMs);

    f.family->updateFirmware(device);
    FirmwareUpdateController* controller = f.family->firmwareUpdateController();
    QVERIFY(controller);
    FirmwareUpdateDialog* dialog = controller->dialog();
    QCOMPARE(dialog->state(), 0);
    QSignalSpy progress(device->deviceHandle().data(),
                        &DeviceFirmwareUpdater::firmwareUpdateProgress);
    const int savesBefore = unit.services().state().saves;
    emit dialog->yesClicked();
    QCOMPARE(dialog->state(), 1);
    // The unit's settings are stored before its firmware is written.
    QCOMPARE(unit.services().state().saves, savesBefore + 1);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->state(), 2, 120000);
    QCOMPARE(controller->lastStatus(), 0);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QCOMPARE(unit.bank(0), carriedBank());
    QCOMPARE(unit.bank(1), carriedBank());

    const int rebootsBefore = unit.rebootRequests();
    emit dialog->closeClicked();
    QCOMPARE(unit.rebootRequests(), rebootsBefore + 1);
    QVERIFY(!dialog->isVisible());
    // The unit comes back under its id, and still runs.
    QTRY_COMPARE_WITH_TIMEOUT(f.arrivals->count(), 2, 10000);
    QCOMPARE(f.family->visibleDevices().size(), 1);
    QCOMPARE(unit.bootedBank(), 0);
}

void TestUpdate::cancelDoesNothing()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(DeckBench::bootableUnit());
    QVERIFY(device);
    QTRY_VERIFY_WITH_TIMEOUT(device->isConnected(), kWaitMs);
    Sim::DeckControllerUnit& unit = *f.units[0];
    const auto bank = unit.bank(0);
    const int saves = unit.services().state().saves;
    const int reboots = unit.rebootRequests();
    f.family->updateFirmware(device);
    FirmwareUpdateDialog* dialog = f.family->firmwareUpdateController()->dialog();
    emit dialog->noClicked();
    QVERIFY(!dialog->isVisible());
    QTest::qWait(100);
    QCOMPARE(unit.services().state().saves, saves);
    QCOMPARE(unit.rebootRequests(), reboots);
    QCOMPARE(unit.bank(0), bank);
}

void TestUpdate::unitLeavingFailsTheUpdate()
{
    DeckFamilyFixture f;
    VisibleDeckController* device = f.plug(DeckBench::bootableUnit());
    QVERIFY(device);
    QTRY_VERIFY_WITH_TIMEOUT(device->isConnected(), kWaitMs);
    QPointer<VisibleDeckController> guard(device);
    f.family->updateFirmware(device);
    FirmwareUpdateController* controller = f.family->firmwareUpdateController();
    FirmwareUpdateDialog* dialog = controller->dialog();
    QSignalSpy progress(device->deviceHandle().data(),
                        &DeviceFirmwareUpdater::firmwareUpdateProgress);
    emit dialog->yesClicked();
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), 30000);
    QVERIFY(Sim::UsbBus::instance().unplug(f.units[0]->id()));
    QTRY_COMPARE_WITH_TIMEOUT(dialog->state(), 3, 30000);
    QCOMPARE(controller->lastStatus(), 1);
    // The visible device goes; the controller outlives it and its buttons do nothing harmful.
    QTRY_VERIFY_WITH_TIMEOUT(!guard, 30000);
    emit dialog->closeClicked();
    emit dialog->yesClicked();
    QVERIFY(!dialog->isVisible());
}

void TestUpdate::familyWaitsForARunningUpdate()
{
    auto f = std::make_unique<DeckFamilyFixture>();
    VisibleDeckController* device = f->plug(DeckBench::bootableUnit());
    QVERIFY(device);
    QTRY_VERIFY_WITH_TIMEOUT(device->isConnected(), kWaitMs);
    auto* updater = static_cast<VisibleDeckControllerUSB*>(device)->firmwareUpdater();
    QSignalSpy progress(updater, &DeviceFirmwareUpdater::firmwareUpdateProgress);
    updater->start();
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), 30000);
    QVERIFY(updater->isUpdating());
    // The family, its devices and their threads go while the unit is being written.
    f.reset();
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
