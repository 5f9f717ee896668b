#include "firmwareupdatecontroller.h"

#include "firmwareupdatedialog.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "novavisibledevice.h"

FirmwareUpdateController::FirmwareUpdateController(FirmwareUpdateDialog* dialog,
                                                   std::shared_ptr<NovaVisibleDevice> visibleDevice)
    : m_dialog(dialog)
    , m_visibleDevice(std::move(visibleDevice))
{
    m_successTimer.setSingleShot(true);
    m_successTimer.setInterval(kSuccessDelayMs);
    connect(&m_successTimer, &QTimer::timeout, this,
            &FirmwareUpdateController::onDisplaySuccessDialog);
    if (!m_dialog)
        return;
    connect(m_dialog, &CommonDialog::yesClicked, this, &FirmwareUpdateController::onAcceptClicked);
    connect(m_dialog, &CommonDialog::noClicked, this,
            &FirmwareUpdateController::onCloseOrDeclineClicked);
    connect(m_dialog, &CommonDialog::closeClicked, this,
            &FirmwareUpdateController::onCloseOrDeclineClicked);
    connect(m_dialog, &CommonDialog::noClicked, m_dialog, &QWidget::close);
    connect(m_dialog, &CommonDialog::closeClicked, m_dialog, &QWidget::close);
}

FirmwareUpdateController::~FirmwareUpdateController()
{
    if (m_updater)
        m_updater->disconnect(this);
    if (m_dialog)
        m_dialog->deleteLater();
    m_updater.reset();
    m_visibleDevice.reset();
}

void FirmwareUpdateController::begin(bool confirm, bool required)
{
    m_succeeded = false;
    m_accepted = false;
    m_required = required;
    if (!m_dialog)
        return;
    m_dialog->setProductName(m_visibleDevice ? m_visibleDevice->displayName() : QString());
    m_dialog->setProgress(0);
    if (!confirm) {
        m_dialog->show();
        onAcceptClicked();
        return;
    }
    m_dialog->setState(required ? FirmwareUpdateDialog::UpdateRequired
                                : FirmwareUpdateDialog::UpdateAvailable);
    m_dialog->show();
}

void FirmwareUpdateController::onAcceptClicked()
{
    // One update per controller: a second click while it runs changes nothing.
    if (m_accepted)
        return;
    m_accepted = true;
    m_updater = m_visibleDevice ? m_visibleDevice->deviceHandle() : nullptr;
    if (!m_updater) {
        // Shown until the user closes it; the owner hears of it then.
        if (m_dialog)
            m_dialog->setState(FirmwareUpdateDialog::UpdateFailed);
        return;
    }
    if (m_dialog)
        connect(m_updater.data(), &DeviceFirmwareUpdater::firmwareUpdateProgress, m_dialog,
                &CommonDialog::setProgress);
    connect(m_updater.data(), &DeviceFirmwareUpdater::firmwareUpdated, this,
            &FirmwareUpdateController::onFirmwareUpdateCompleted);
    if (m_dialog)
        m_dialog->setState(FirmwareUpdateDialog::Updating);
    m_updater->start();
}

void FirmwareUpdateController::onFirmwareUpdateCompleted(int status)
{
    m_succeeded = status == DeviceFirmwareUpdater::Succeeded;
    if (!m_dialog)
        return;
    switch (status) {
    case DeviceFirmwareUpdater::Succeeded:
        m_dialog->setProgress(100);
        if (!m_successTimer.isActive())
            m_successTimer.start();
        break;
    case DeviceFirmwareUpdater::RemoteUpdatesDisabled:
        m_dialog->setState(FirmwareUpdateDialog::RemoteUpdatesRefused);
        break;
    default:
        m_dialog->setState(FirmwareUpdateDialog::UpdateFailed);
        break;
    }
}

void FirmwareUpdateController::onDisplaySuccessDialog()
{
    if (m_dialog)
        m_dialog->setState(FirmwareUpdateDialog::Complete);
}

void FirmwareUpdateController::onCloseOrDeclineClicked()
{
    // Declined: an optional update may be skipped, a required one may not. Accepted: what the
    // update itself came to.
    emit firmwareUpdated(m_accepted ? m_succeeded : !m_required);
}
