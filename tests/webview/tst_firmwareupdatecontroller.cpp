#include "framework/cardpushbutton.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/family.h"
#include "plugins/webview/connectionmanager.h"
#include "plugins/webview/firmwareupdatecontroller.h"
#include "plugins/webview/firmwareupdatedialog.h"
#include "plugins/webview/novavisibledevice.h"
#include "plugins/webview/potentialdevice.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

namespace {

// An updater the test finishes by hand.
class ScriptedUpdater : public DeviceFirmwareUpdater
{
public:
    bool checkDevice() override { return false; }
    void start() override { ++starts; }
    int starts = 0;
};

// Lends the product table and hands out the scripted updater, or none.
class UpdaterManager : public ConnectionManager
{
public:
    UpdaterManager()
        : ConnectionManager("Test", nullptr, supportedProducts())
    {
    }
    std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice*,
                                                           PotentialDevice*) override
    {
        return nullptr;
    }
    QSharedPointer<DeviceFirmwareUpdater> createFirmwareUpdater(NovaVisibleDevice*,
                                                                PotentialDevice*) override
    {
        return updater;
    }
    QSharedPointer<ScriptedUpdater> updater = QSharedPointer<ScriptedUpdater>::create();
};

struct FakeDevice : PotentialDevice
{
    using PotentialDevice::PotentialDevice;
    uint16_t productId() override { return 0xBE1D; }
    uint16_t hardwareRevision() override { return 0x100; }
    QString uniqueId() override { return "id1"; }
    QString name() override { return "Alder"; }
    QString firmwareBuild() override { return "00000000"; }
    QString releaseVersion() override { return "8.4"; }
    int connectionType() override { return kEthernet; }
    void requestResolve() override {}
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return false; }
    uint16_t priority() override { return 20; }
};

} // namespace

class TestFirmwareUpdateController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void outcomeShownAndReportedOnClose_data();
    void outcomeShownAndReportedOnClose();
    void declining_data();
    void declining();
    void withoutUpdaterFailureIsShownFirst();
    void successShowsFullBarForASecond();
    void secondAcceptStartsNothing();

private:
    QWidget* m_window = nullptr;
    Family* m_family = nullptr;
    std::shared_ptr<UpdaterManager> m_manager;
    std::shared_ptr<NovaVisibleDevice> m_visible;
    FirmwareUpdateDialog* m_dialog = nullptr;
    FirmwareUpdateController* m_controller = nullptr;
};

void TestFirmwareUpdateController::init()
{
    m_window = new QWidget;
    m_window->resize(800, 600);
    m_family = new Family(nullptr);
    m_manager = std::make_shared<UpdaterManager>();
    m_visible =
        std::make_shared<NovaVisibleDevice>(m_family, std::make_shared<FakeDevice>(m_manager));
    m_dialog = new FirmwareUpdateDialog(m_window);
    m_controller = new FirmwareUpdateController(m_dialog, m_visible);
}

void TestFirmwareUpdateController::cleanup()
{
    delete m_controller;
    m_visible.reset();
    m_manager.reset();
    delete m_family;
    delete m_window;
}

void TestFirmwareUpdateController::outcomeShownAndReportedOnClose_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("reported");
    QTest::newRow("success") << 0 << int(FirmwareUpdateDialog::Complete) << "Update Complete!"
                             << "Your Alder has been updated and is ready to use." << true;
    QTest::newRow("failure") << 1 << int(FirmwareUpdateDialog::UpdateFailed) << "Update Failed!"
                             << "Please check your connections and try again." << false;
    QTest::newRow("remote updates refused")
        << 2 << int(FirmwareUpdateDialog::RemoteUpdatesRefused) << "Remote Updates Disabled!"
        << "Your Alder is configured to only allow updates via USB." << false;
    QTest::newRow("unknown status")
        << 9 << int(FirmwareUpdateDialog::UpdateFailed) << "Update Failed!"
        << "Please check your connections and try again." << false;
}

void TestFirmwareUpdateController::outcomeShownAndReportedOnClose()
{
    QFETCH(int, status);
    QFETCH(int, state);
    QFETCH(QString, heading);
    QFETCH(QString, message);
    QFETCH(bool, reported);
    QSignalSpy updated(m_controller, &FirmwareUpdateController::firmwareUpdated);
    // An optional update: declining it would report true, a failed run must not.
    m_controller->begin(true, false);
    QCOMPARE(m_dialog->state(), int(FirmwareUpdateDialog::UpdateAvailable));
    m_dialog->yesButton()->click();
    QCOMPARE(m_manager->updater->starts, 1);
    QCOMPARE(m_dialog->state(), int(FirmwareUpdateDialog::Updating));
    emit m_manager->updater->firmwareUpdated(status);
    QTRY_COMPARE(m_dialog->state(), state);
    QCOMPARE(m_dialog->headingLabel()->text(), heading);
    QVERIFY2(m_dialog->messageLabel()->text().contains(message.section(' ', 0, 2)),
             qPrintable(m_dialog->messageLabel()->text()));
    QCOMPARE(updated.count(), 0);
    m_dialog->closeButton()->click();
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.takeFirst().at(0).toBool(), reported);
}

void TestFirmwareUpdateController::declining_data()
{
    QTest::addColumn<bool>("required");
    QTest::addColumn<QString>("noText");
    QTest::addColumn<bool>("reported");
    QTest::newRow("optional: Continue") << false << "Continue" << true;
    QTest::newRow("required: Cancel") << true << "Cancel" << false;
}

void TestFirmwareUpdateController::declining()
{
    QFETCH(bool, required);
    QFETCH(QString, noText);
    QFETCH(bool, reported);
    QSignalSpy updated(m_controller, &FirmwareUpdateController::firmwareUpdated);
    m_controller->begin(true, required);
    QCOMPARE(m_dialog->noButton()->text(), noText);
    m_dialog->noButton()->click();
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.takeFirst().at(0).toBool(), reported);
    QCOMPARE(m_manager->updater->starts, 0);
}

void TestFirmwareUpdateController::withoutUpdaterFailureIsShownFirst()
{
    m_manager->updater.reset();
    QSignalSpy updated(m_controller, &FirmwareUpdateController::firmwareUpdated);
    m_controller->begin(false, false);
    QCOMPARE(m_dialog->state(), int(FirmwareUpdateDialog::UpdateFailed));
    QCOMPARE(m_dialog->headingLabel()->text(), QString("Update Failed!"));
    // The owner deletes the controller when it hears: not before the user saw the failure.
    QCOMPARE(updated.count(), 0);
    m_dialog->closeButton()->click();
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.takeFirst().at(0).toBool(), false);
}

void TestFirmwareUpdateController::successShowsFullBarForASecond()
{
    m_controller->begin(false, true);
    QCOMPARE(m_manager->updater->starts, 1);
    emit m_manager->updater->firmwareUpdateProgress(40);
    QCOMPARE(m_dialog->progressBar()->value(), 40);
    emit m_manager->updater->firmwareUpdated(0);
    QCOMPARE(m_dialog->progressBar()->value(), 100);
    QCOMPARE(m_dialog->state(), int(FirmwareUpdateDialog::Updating));
    QTest::qWait(FirmwareUpdateController::kSuccessDelayMs / 2);
    QCOMPARE(m_dialog->state(), int(FirmwareUpdateDialog::Updating));
    QTRY_COMPARE(m_dialog->state(), int(FirmwareUpdateDialog::Complete));
    QCOMPARE(m_dialog->closeButton()->text(), QString("Done"));
}

void TestFirmwareUpdateController::secondAcceptStartsNothing()
{
    m_controller->begin(true, true);
    m_dialog->yesButton()->click();
    m_controller->onAcceptClicked();
    QCOMPARE(m_manager->updater->starts, 1);
}

QTEST_MAIN(TestFirmwareUpdateController)
#include "tst_firmwareupdatecontroller.moc"
