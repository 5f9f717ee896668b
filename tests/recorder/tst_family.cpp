#include "fakekestrel.h"
#include "tests/deckcontroller/deckwindow.h"
#include "tests/usb/simdevicefixture.h"

#include "framework/cardpushbutton.h"
#include "kestrelbuildinfo.h"
#include "plugins/recorder/firmwareupdatecontroller.h"
#include "plugins/recorder/firmwareupdatedialog.h"
#include "plugins/recorder/kestrelfamily.h"
#include "plugins/recorder/kestrelproductcard.h"
#include "plugins/recorder/kestrelsettingspage.h"
#include "plugins/recorder/visibleusbkestrel.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/recorder/streamingrecorder.h"
#include "sim/recorder/xmegamailboxrecorder.h"
#include "sim/usbbus/usbbus.h"

#include <QComboBox>
#include <QPointer>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using CVN::DiskRecorder::IKestrel;

namespace {

// Generous: the sanitizers slow every poll of the GUI thread.
constexpr int kWaitMs = 30000;

QString shippedFolder()
{
    return qEnvironmentVariable("PELLWORTH_BIN_DIR") +
           QStringLiteral("/Tendwell/PlugIns/Tamsett/Resources");
}

std::shared_ptr<Sim::Fx2Recorder> fx2Recorder()
{
    auto model = std::make_shared<Sim::Fx2Recorder>(0xC34D);
    model->setFirmware(0x2D, 0x1A6291BD);
    return model;
}

// Current firmware unless told otherwise.
std::shared_ptr<Sim::XmegaMailboxRecorder> mailboxRecorder(uint8_t fpgaVersion = 0x10)
{
    auto model = std::make_shared<Sim::XmegaMailboxRecorder>();
    model->setFirmware(fpgaVersion, 0x16327E57);
    return model;
}

// The family on a window, watching the simulated bus, as the program runs it. Leaves an empty
// bus behind.
struct FamilyFixture
{
    FamilyFixture()
        : window(std::make_unique<DeckWindow>())
        , family(new KestrelFamily(window.get()))
        , arrivals(family, &Family::deviceArrived)
        , removals(family, qOverload<VisibleDevice*>(&Family::deviceRemoved))
        , infoChanges(family, &Family::deviceInfoChanged)
    {
        window->families << family;
        window->show();
        family->startDiscovery();
    }

    ~FamilyFixture()
    {
        window->deleteWidgets();
        delete family;
        window.reset();
        Sim::UsbBus::instance().reset();
    }

    // Plugs a unit and waits for the family to list it.
    VisibleUSBKestrel* plug(std::shared_ptr<Sim::UsbDeviceModel> unit)
    {
        const int before = arrivals.count();
        busIds.push_back(Sim::UsbBus::instance().plug(unit));
        if (!QTest::qWaitFor([&] { return arrivals.count() > before; }, kWaitMs))
            return nullptr;
        return dynamic_cast<VisibleUSBKestrel*>(arrivals.last().at(0).value<VisibleDevice*>());
    }

    KestrelProductCard* newestCard() const
    {
        const auto cards = window->findChildren<KestrelProductCard*>();
        return cards.isEmpty() ? nullptr : cards.last();
    }

    std::unique_ptr<DeckWindow> window;
    KestrelFamily* family;
    QSignalSpy arrivals;
    QSignalSpy removals;
    QSignalSpy infoChanges;
    std::vector<Sim::DeviceId> busIds;
};

} // namespace

// The family's recorders on the simulated bus, its cards, its updates from the gallery and its
// support report.
class TestFamily : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void oneEntryPerRecorderUntilUnplugged();
    void unplugClosesTheOpenCard();
    void galleryUpdateCardGoesWhateverTheOutcome_data();
    void galleryUpdateCardGoesWhateverTheOutcome();
    void refusedCodecUpdatesOnceThenTheCardGoes();
    void reportWithoutDevices();
    void reportListsConnectedDevices();
    void reportNamesARecorderOnTheBus();
};

void TestFamily::initTestCase()
{
    qRegisterMetaType<VisibleDevice*>();
    // The packages the plug-in ships, for the updates.
    FirmwareFileLocator::setResourcesDirectory(shippedFolder().toStdString());
    QVERIFY(QFileInfo::exists(shippedFolder() + "/data-c3a6.bin"));
}

void TestFamily::oneEntryPerRecorderUntilUnplugged()
{
    FamilyFixture f;
    VisibleUSBKestrel* fx2 = f.plug(fx2Recorder());
    VisibleUSBKestrel* mailbox = f.plug(mailboxRecorder());
    VisibleUSBKestrel* streaming = f.plug(std::make_shared<Sim::StreamingRecorder>());
    QVERIFY(fx2 && mailbox && streaming);
    QCOMPARE(f.family->devices(), (QList<VisibleUSBKestrel*>{fx2, mailbox, streaming}));
    QCOMPARE(fx2->displayName(), QStringLiteral("Kestrel Bench"));
    QCOMPARE(mailbox->displayName(), QStringLiteral("Kestrel Bench UHD"));
    QCOMPARE(streaming->displayName(), QStringLiteral("Kestrel Bench Lite"));

    // Each unplug removes its own entry only, reported with the pointer it arrived with.
    QVERIFY(Sim::UsbBus::instance().unplug(f.busIds[1]));
    QTRY_COMPARE_WITH_TIMEOUT(f.removals.count(), 1, kWaitMs);
    QCOMPARE(f.removals.at(0).at(0).value<VisibleDevice*>(), static_cast<VisibleDevice*>(mailbox));
    QCOMPARE(f.family->devices(), (QList<VisibleUSBKestrel*>{fx2, streaming}));
    QVERIFY(Sim::UsbBus::instance().unplug(f.busIds[0]));
    QVERIFY(Sim::UsbBus::instance().unplug(f.busIds[2]));
    QTRY_COMPARE_WITH_TIMEOUT(f.removals.count(), 3, kWaitMs);
    QVERIFY(f.family->devices().isEmpty());

    // A removal of a device the family does not hold changes nothing.
    auto* stranger = new FakeKestrel;
    f.family->deviceRemoved(static_cast<IKestrel*>(stranger));
    QCOMPARE(f.removals.count(), 3);
    stranger->release();
}

void TestFamily::unplugClosesTheOpenCard()
{
    FamilyFixture f;
    VisibleUSBKestrel* device = f.plug(mailboxRecorder());
    QVERIFY(device);
    f.family->showDevice(device);
    QPointer<KestrelProductCard> card(f.newestCard());
    QVERIFY(card);
    QVERIFY(card->isVisible());

    QVERIFY(Sim::UsbBus::instance().unplug(f.busIds[0]));
    QTRY_COMPARE_WITH_TIMEOUT(f.removals.count(), 1, kWaitMs);
    // At once, before its visible device goes.
    QVERIFY(!card);
    // Another family's device, or none, opens nothing.
    f.family->showDevice(nullptr);
    f.family->updateFirmware(nullptr);
    QVERIFY(!f.newestCard());
}

void TestFamily::galleryUpdateCardGoesWhateverTheOutcome_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("reported");
    QTest::newRow("firmware already current") << "current" << true;
    QTest::newRow("user declines") << "declined" << false;
    QTest::newRow("update succeeds") << "updated" << true;
    QTest::newRow("update fails") << "failed" << false;
}

// A card made for an update from the gallery is never shown: once the update has reported,
// it goes (and the gallery hears of the device again) whatever the outcome, and starts no
// further update on its way out.
void TestFamily::galleryUpdateCardGoesWhateverTheOutcome()
{
    QFETCH(QString, outcome);
    QFETCH(bool, reported);
    FamilyFixture f;
    auto unit = mailboxRecorder(outcome == "current" ? 0x10 : 0x0F);
    VisibleUSBKestrel* device = f.plug(unit);
    QVERIFY(device);
    QCOMPARE(device->needsFirmwareUpdate(), outcome != "current");
    device->firmwareUpdater()->updater().setWaitClock(std::make_shared<ManualClock>());
    if (outcome == "failed") {
        Sim::XmegaFaults faults;
        faults.eraseError = true;
        unit->setFaults(faults);
    }

    f.family->updateFirmware(device);
    QPointer<KestrelProductCard> card(f.newestCard());
    QVERIFY(card);
    QVERIFY(!card->isVisible());
    if (outcome != "current") {
        FirmwareUpdateController* controller = card->updateController();
        QVERIFY(controller);
        QSignalSpy outcomes(controller, &FirmwareUpdateController::firmwareUpdated);
        FirmwareUpdateDialog* dialog = controller->dialog();
        QCOMPARE(dialog->state(), int(FirmwareUpdateDialog::Question));
        if (outcome == "declined") {
            QTest::mouseClick(dialog->noButton(), Qt::LeftButton);
        } else {
            QTest::mouseClick(dialog->yesButton(), Qt::LeftButton);
            const int end = outcome == "updated" ? FirmwareUpdateDialog::Complete
                                                 : FirmwareUpdateDialog::UpdateFailed;
            QTRY_COMPARE_WITH_TIMEOUT(dialog->state(), end, kWaitMs);
            QVERIFY(card);
            QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
        }
        QCOMPARE(outcomes.count(), 1);
        QCOMPARE(outcomes.at(0).at(0).toBool(), reported);
    }

    // Reported: on its way out, where a further request starts nothing.
    QVERIFY(card);
    QVERIFY(card->isClosing());
    card->onFirmwareUpdateRequested(true);
    QVERIFY(!card->updateController());
    QTRY_VERIFY_WITH_TIMEOUT(!card, kWaitMs);
    QCOMPARE(f.infoChanges.count(), 1);
    QCOMPARE(f.infoChanges.at(0).at(0).value<VisibleDevice*>(),
             static_cast<VisibleDevice*>(device));
    // The unit stayed: the card went on its own.
    QCOMPARE(f.removals.count(), 0);
    QVERIFY(f.window->findChildren<FirmwareUpdateDialog*>().isEmpty() ||
            !f.window->findChildren<FirmwareUpdateDialog*>().last()->isVisible());
}

// Saving a codec the recorder's firmware cannot record runs a forced update. Once it has
// succeeded the settings are written again and the card goes; the recorder still refusing them
// asks for another update, which a closing card does not start.
void TestFamily::refusedCodecUpdatesOnceThenTheCardGoes()
{
    FamilyFixture f;
    auto unit = mailboxRecorder();
    // Running, without ProRes.
    unit->setStatus(0x21);
    VisibleUSBKestrel* device = f.plug(unit);
    QVERIFY(device);
    device->firmwareUpdater()->updater().setWaitClock(std::make_shared<ManualClock>());
    QSignalSpy runs(device->firmwareUpdater().data(), &DeviceFirmwareUpdater::firmwareUpdated);
    f.family->showDevice(device);
    QPointer<KestrelProductCard> card(f.newestCard());
    QVERIFY(card);
    QTRY_VERIFY_WITH_TIMEOUT(card->settingsPage() && card->settingsPage()->isVisible(), kWaitMs);

    KestrelSettingsPage* page = card->settingsPage();
    page->codecBox()->setCurrentText(QStringLiteral("ProRes HQ"));
    QVERIFY(QMetaObject::invokeMethod(page, "onSavePressed"));
    // Forced: no question, the update runs, and the card waits for it.
    QVERIFY(card);
    FirmwareUpdateController* controller = card->updateController();
    QVERIFY(controller);
    FirmwareUpdateDialog* dialog = controller->dialog();
    QCOMPARE(dialog->state(), int(FirmwareUpdateDialog::Updating));
    QTRY_COMPARE_WITH_TIMEOUT(dialog->state(), int(FirmwareUpdateDialog::Complete), kWaitMs);
    QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);

    QVERIFY(card->isClosing());
    QVERIFY(!card->updateController());
    QTRY_VERIFY_WITH_TIMEOUT(!card, kWaitMs);
    device->firmwareUpdater()->updater().waitForEnd();
    QCoreApplication::processEvents();
    QCOMPARE(runs.count(), 1);
    QCOMPARE(f.removals.count(), 0);
}

void TestFamily::reportWithoutDevices()
{
    KestrelFamily family(nullptr);
    QFile fixture(QFINDTESTDATA("fixtures/support-report-no-devices.txt"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    QString expected = QString::fromUtf8(fixture.readAll());
    expected.replace("@BUILD_TIME@", KESTREL_BUILD_TIME)
        .replace("@RC_TAG@", KESTREL_RC_TAG)
        .replace("@REVISION@", KESTREL_REVISION);
    QCOMPARE(family.buildDetails(), expected);

    // The build's values in their fixed forms.
    QVERIFY(QRegularExpression("^\\d{14}$").match(KESTREL_BUILD_TIME).hasMatch());
    QVERIFY(QRegularExpression("^[0-9a-f]{40}$").match(KESTREL_REVISION).hasMatch());
}

// Connected devices in arrival order: by model when the product id can be read, as "Device"
// when not; a device that does not answer is left out.
void TestFamily::reportListsConnectedDevices()
{
    KestrelFamily family(nullptr);
    auto* pocket = new FakeKestrel(0xC35A);
    pocket->fpga = 0x1209; // only its low byte is reported
    pocket->checksum = 0xEADDC15D;
    auto* anonymous = new FakeKestrel;
    anonymous->productId = std::nullopt;
    anonymous->fpga = 0x07;
    anonymous->checksum = 0x1;
    auto* silent = new FakeKestrel(0xC34D);
    silent->connected = false;
    const QList<FakeKestrel*> fakes{pocket, anonymous, silent};
    for (FakeKestrel* fake : fakes)
        family.deviceArrived(static_cast<IKestrel*>(fake));

    const QString report = family.buildDetails();
    const QString devices = "\n** Connected Devices: \n"
                            "\n\tKestrel Pocket 2: \n\tProduct Id:\t0xc35a\n"
                            "\tFPGA Firmware:\t0x09\n\tCPU Checksum:\t0xeaddc15d\n"
                            "\n\tDevice: \n\tFPGA Firmware:\t0x07\n\tCPU Checksum:\t0x00000001\n"
                            "\n** Available Firmware:\n";
    QVERIFY2(report.contains(devices), qPrintable(report));
    QVERIFY(report.startsWith(KestrelFamily::buildHeader() + "\n** Connected Devices: \n"));

    for (FakeKestrel* fake : fakes) {
        family.deviceRemoved(static_cast<IKestrel*>(fake));
        fake->release();
    }
}

void TestFamily::reportNamesARecorderOnTheBus()
{
    FamilyFixture f;
    QVERIFY(f.plug(fx2Recorder()));
    QVERIFY2(
        f.family->buildDetails().contains("\n\tKestrel Bench: \n\tProduct Id:\t0xc34d\n"
                                          "\tFPGA Firmware:\t0x2d\n\tCPU Checksum:\t0x1a6291bd\n"),
        qPrintable(f.family->buildDetails()));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestFamily test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_family.moc"
