#include "fakekestrel.h"
#include "tests/framework/stubdevice.h"

#include "framework/cardpushbutton.h"
#include "plugins/recorder/deviceupdater.h"
#include "plugins/recorder/firmwareupdatecontroller.h"
#include "plugins/recorder/firmwareupdatedialog.h"
#include "plugins/recorder/visibleusbkestrelfirmwareupdater.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <QtTest>

#include <memory>

namespace {

// An updater whose outcome the test sends.
class ScriptedUpdater : public DeviceFirmwareUpdater
{
    Q_OBJECT
public:
    bool checkDevice() override { return current; }
    void start() override { ++starts; }

    bool current = false;
    int starts = 0;
};

class UpdatableDevice : public StubDevice
{
public:
    UpdatableDevice()
        : StubDevice(nullptr, QStringLiteral("Kestrel"))
    {
    }
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override { return updater; }
    QSharedPointer<DeviceFirmwareUpdater> updater;
};

// A window, a device with a scripted updater and the controller over them, its reports
// counted as the card would count them.
struct Flow
{
    Flow()
    {
        window->resize(800, 600);
        window->show();
        device.updater = scripted;
        QObject::connect(controller.get(), &FirmwareUpdateController::firmwareUpdated,
                         [this](bool ok) { reports.push_back(ok); });
    }
    FirmwareUpdateDialog* dialog() const { return controller->dialog(); }
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    UpdatableDevice device;
    QSharedPointer<ScriptedUpdater> scripted = QSharedPointer<ScriptedUpdater>::create();
    std::unique_ptr<FirmwareUpdateController> controller =
        std::make_unique<FirmwareUpdateController>(window.get(), &device);
    std::vector<bool> reports;
};

} // namespace

class UpdateDialogTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void updateEndsInItsOutcome_data();
    void updateEndsInItsOutcome();
    void declineReportsFailure();
    void forcedUpdateStartsAtOnce();
    void currentFirmwareNeedsNoDialog();
    void deviceWithoutUpdaterReports();
    void closeDuringTheUpdateWaitsForItsEnd();
    void windowGoingReportsOnce_data();
    void windowGoingReportsOnce();
    void ownerMayDeleteTheControllerOnItsReport();
    void codecAndFailureThroughTheRecorderUpdater();
};

void UpdateDialogTest::updateEndsInItsOutcome_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("button");
    QTest::newRow("success") << 0 << true << "Update Complete!"
                             << "Done";
    QTest::newRow("failure") << 1 << false << "Update Failed!"
                             << "Close";
    // An updater that ends refusing still ends: the user can close and the card hears of it.
    QTest::newRow("refused") << 2 << false << "Update Failed!"
                             << "Close";
}

void UpdateDialogTest::updateEndsInItsOutcome()
{
    QFETCH(int, status);
    QFETCH(bool, succeeded);
    QFETCH(QString, heading);
    QFETCH(QString, button);
    Flow flow;
    flow.controller->begin(false);
    FirmwareUpdateDialog* dialog = flow.dialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->state(), int(FirmwareUpdateDialog::Question));
    QCOMPARE(dialog->headingLabel()->text(), QString("Update Required!"));
    QCOMPARE(dialog->titleLabel()->text(), QString("Software Update"));
    QVERIFY(dialog->yesButton()->isVisible() && dialog->noButton()->isVisible());
    QCOMPARE(flow.scripted->starts, 0);

    flow.click(dialog->yesButton());
    QCOMPARE(flow.scripted->starts, 1);
    QCOMPARE(dialog->state(), int(FirmwareUpdateDialog::Updating));
    QVERIFY(dialog->progressBar()->isVisible());
    QVERIFY(!dialog->yesButton()->isVisible() && !dialog->closeButton()->isVisible());
    emit flow.scripted->firmwareUpdateProgress(50);
    QCOMPARE(dialog->progressBar()->value(), 50);
    emit flow.scripted->firmwareUpdateProgress(-1);
    QVERIFY(dialog->isBusy());
    // A second yes while the unit is written starts nothing.
    emit dialog->yesClicked();
    QCOMPARE(flow.scripted->starts, 1);

    emit flow.scripted->firmwareUpdated(status);
    QCOMPARE(dialog->headingLabel()->text(), heading);
    QVERIFY(dialog->closeButton()->isVisible());
    QCOMPARE(dialog->closeButton()->text(), button);
    QVERIFY(flow.reports.empty());
    // The updater is let go: a late signal changes nothing.
    emit flow.scripted->firmwareUpdated(0);
    emit flow.scripted->firmwareUpdateProgress(10);
    QCOMPARE(dialog->headingLabel()->text(), heading);

    flow.click(dialog->closeButton());
    QCOMPARE(flow.reports, std::vector<bool>{succeeded});
    QVERIFY(!dialog->isVisible());
    emit dialog->closeClicked();
    QCOMPARE(flow.reports.size(), size_t(1));
}

void UpdateDialogTest::declineReportsFailure()
{
    Flow flow;
    flow.controller->begin(false);
    flow.click(flow.dialog()->noButton());
    QCOMPARE(flow.reports, std::vector<bool>{false});
    QCOMPARE(flow.scripted->starts, 0);
    QVERIFY(!flow.dialog()->isVisible());
}

void UpdateDialogTest::forcedUpdateStartsAtOnce()
{
    Flow flow;
    // Current firmware is no reason to skip a forced update.
    flow.scripted->current = true;
    flow.controller->begin(true);
    QCOMPARE(flow.scripted->starts, 1);
    QVERIFY(flow.dialog()->isVisible());
    QCOMPARE(flow.dialog()->state(), int(FirmwareUpdateDialog::Updating));
    QCOMPARE(flow.dialog()->headingLabel()->text(), QString("Updating Software..."));
    QVERIFY(!flow.dialog()->yesButton()->isVisible());
}

void UpdateDialogTest::currentFirmwareNeedsNoDialog()
{
    Flow flow;
    flow.scripted->current = true;
    flow.controller->begin(false);
    QCOMPARE(flow.reports, std::vector<bool>{true});
    QVERIFY(!flow.dialog());
    QCOMPARE(flow.scripted->starts, 0);
}

void UpdateDialogTest::deviceWithoutUpdaterReports()
{
    Flow flow;
    flow.device.updater.reset();
    flow.controller->begin(true);
    QCOMPARE(flow.reports.size(), size_t(1));
    QVERIFY(!flow.dialog());
}

void UpdateDialogTest::closeDuringTheUpdateWaitsForItsEnd()
{
    Flow flow;
    flow.controller->begin(true);
    emit flow.dialog()->closeClicked();
    emit flow.dialog()->noClicked();
    QVERIFY(flow.reports.empty());
    QVERIFY(flow.dialog()->isVisible());
    emit flow.scripted->firmwareUpdated(0);
    flow.click(flow.dialog()->closeButton());
    QCOMPARE(flow.reports, std::vector<bool>{true});
}

void UpdateDialogTest::windowGoingReportsOnce_data()
{
    QTest::addColumn<bool>("updating");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("succeeded");
    QTest::newRow("at the question") << false << 0 << false;
    QTest::newRow("during a successful update") << true << 0 << true;
    QTest::newRow("during a failing update") << true << 1 << false;
}

// The dialog goes with its window; the card still hears the outcome, once.
void UpdateDialogTest::windowGoingReportsOnce()
{
    QFETCH(bool, updating);
    QFETCH(int, status);
    QFETCH(bool, succeeded);
    Flow flow;
    flow.controller->begin(updating);
    flow.window.reset();
    QVERIFY(!flow.dialog());
    if (updating) {
        QVERIFY(flow.reports.empty());
        emit flow.scripted->firmwareUpdated(status);
    }
    QCOMPARE(flow.reports, std::vector<bool>{succeeded});
    flow.controller.reset();
    QCOMPARE(flow.reports.size(), size_t(1));
}

void UpdateDialogTest::ownerMayDeleteTheControllerOnItsReport()
{
    Flow flow;
    FirmwareUpdateController* controller = flow.controller.release();
    QPointer<FirmwareUpdateDialog> dialog;
    QObject::connect(controller, &FirmwareUpdateController::firmwareUpdated, controller,
                     [controller] { delete controller; });
    controller->begin(false);
    dialog = controller->dialog();
    flow.click(dialog->yesButton());
    emit flow.scripted->firmwareUpdated(0);
    flow.click(dialog->closeButton());
    QCOMPARE(flow.reports, std::vector<bool>{true});
    QVERIFY(!dialog);
}

// The real updater of a recorder: the codec reaches it, and an update without a package to
// read ends in the failed state.
void UpdateDialogTest::codecAndFailureThroughTheRecorderUpdater()
{
    Flow flow;
    auto* recorder = new FakeKestrel(DeviceUpdater::kTwoFpgaImagesProduct);
    recorder->firmwareCurrent = false;
    auto updater = VisibleUSBKestrelFirmwareUpdater::create(recorder);
    recorder->release();
    flow.device.updater = updater;
    flow.controller->setCodec(DeviceUpdater::kProResHQ);
    flow.controller->begin(false);
    QCOMPARE(updater->updater().codecMode(), quint32(DeviceUpdater::kProResHQ));
    QCOMPARE(recorder->codecModes, std::vector<uint32_t>{DeviceUpdater::kProResHQ});

    flow.click(flow.dialog()->yesButton());
    QTRY_COMPARE(flow.dialog()->state(), int(FirmwareUpdateDialog::UpdateFailed));
    QCOMPARE(recorder->callCount("prepareForUpdate"), 0);
    flow.click(flow.dialog()->closeButton());
    QCOMPARE(flow.reports, std::vector<bool>{false});
}

QTEST_MAIN(UpdateDialogTest)
#include "tst_updatedialog.moc"
