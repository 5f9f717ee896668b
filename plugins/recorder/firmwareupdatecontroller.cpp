#include "plugins/recorder/firmwareupdatecontroller.h"

#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/visibledevice.h"
#include "plugins/recorder/firmwareupdatedialog.h"
#include "plugins/recorder/visibleusbkestrelfirmwareupdater.h"

#include <QWidget>

FirmwareUpdateController::FirmwareUpdateController(QWidget* window, VisibleDevice* visibleDevice)
    : QObject(nullptr)
    , m_visibleDevice(visibleDevice)
    , m_window(window)
{
}

FirmwareUpdateController::~FirmwareUpdateController()
{
    disconnectUpdater();
    if (m_dialog) {
        // Going away is not the user closing the dialog: nothing is reported from here.
        disconnect(m_dialog.data(), nullptr, this, nullptr);
        delete m_dialog.data();
    }
    m_updater.reset();
}

void FirmwareUpdateController::begin(bool force)
{
    if (m_updater || m_reported)
        return;
    QSharedPointer<DeviceFirmwareUpdater> updater =
        m_visibleDevice ? m_visibleDevice->deviceHandle() : nullptr;
    if (!updater) {
        report(m_succeeded);
        return;
    }
    if (!force && updater->checkDevice()) {
        report(m_succeeded);
        return;
    }
    m_updater = updater;
    if (auto* kestrelUpdater = qobject_cast<VisibleUSBKestrelFirmwareUpdater*>(updater.data())) {
        if (m_codec != 0)
            kestrelUpdater->setCodec(m_codec);
    }

    if (!m_dialog) {
        m_dialog = new FirmwareUpdateDialog(m_window);
        connect(m_dialog, SIGNAL(destroyed()), this, SLOT(onDialogDestroyed()));
    }
    m_succeeded = false;
    connect(m_dialog, SIGNAL(yesClicked()), this, SLOT(onAcceptClicked()), Qt::UniqueConnection);
    connect(m_dialog, SIGNAL(noClicked()), this, SLOT(onCloseOrDeclineClicked()),
            Qt::UniqueConnection);
    connect(m_dialog, SIGNAL(closeClicked()), this, SLOT(onCloseOrDeclineClicked()),
            Qt::UniqueConnection);
    connect(m_updater.data(), SIGNAL(firmwareUpdated(int)), this,
            SLOT(onFirmwareUpdateTermination(int)), Qt::UniqueConnection);
    connect(m_updater.data(), SIGNAL(firmwareUpdateProgress(int)), m_dialog, SLOT(setProgress(int)),
            Qt::UniqueConnection);

    if (!force) {
        m_dialog->setState(FirmwareUpdateDialog::Question);
        m_dialog->show();
        return;
    }
    m_dialog->setState(FirmwareUpdateDialog::Updating);
    startUpdate();
    m_dialog->show();
}

void FirmwareUpdateController::startUpdate()
{
    m_updating = true;
    m_updater->start();
}

void FirmwareUpdateController::onAcceptClicked()
{
    if (m_updating || !m_updater || !m_dialog)
        return;
    m_dialog->setState(FirmwareUpdateDialog::Updating);
    startUpdate();
}

void FirmwareUpdateController::onCloseOrDeclineClicked()
{
    // While the unit is being written there is no outcome to tell yet; the dialog shows no
    // button then, so a close can only come from elsewhere.
    if (m_updating)
        return;
    // Closed before telling: the owner may delete this controller on the signal.
    if (m_dialog)
        m_dialog->close();
    report(m_succeeded);
}

void FirmwareUpdateController::onFirmwareUpdateTermination(int status)
{
    m_updating = false;
    disconnectUpdater();
    // The updater has ended whatever it says: anything but success is a failure, so the user
    // can close the dialog and the outcome gets reported.
    m_succeeded = status == DeviceFirmwareUpdater::Succeeded;
    if (m_dialog) {
        m_dialog->setState(m_succeeded ? FirmwareUpdateDialog::Complete
                                       : FirmwareUpdateDialog::UpdateFailed);
        return;
    }
    // The dialog went with its window during the update: nobody is left to close it.
    report(m_succeeded);
}

void FirmwareUpdateController::onDialogDestroyed()
{
    if (!m_updating)
        report(m_succeeded);
}

void FirmwareUpdateController::report(bool succeeded)
{
    if (m_reported)
        return;
    m_reported = true;
    emit firmwareUpdated(succeeded);
}

void FirmwareUpdateController::disconnectUpdater()
{
    if (!m_updater)
        return;
    disconnect(m_updater.data(), nullptr, this, nullptr);
    if (m_dialog)
        disconnect(m_updater.data(), nullptr, m_dialog.data(), nullptr);
}
