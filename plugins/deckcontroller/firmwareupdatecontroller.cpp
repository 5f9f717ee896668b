#include "plugins/deckcontroller/firmwareupdatecontroller.h"

#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/family.h"
#include "plugins/deckcontroller/deckcontrollerconnection.h"
#include "plugins/deckcontroller/firmwareupdatedialog.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

#include <cstdio>
#include <stdexcept>

FirmwareUpdateController::FirmwareUpdateController(VisibleDeckController* device, QWidget* parent)
    : QObject(nullptr)
    , m_device(device)
{
    QSharedPointer<DeviceFirmwareUpdater> updater = device ? device->deviceHandle() : nullptr;
    if (!updater)
        throw std::runtime_error("Failed to get firmware updater");
    m_dialog = new FirmwareUpdateDialog(parent);
    connect(m_dialog, SIGNAL(yesClicked()), this, SLOT(onAcceptClicked()));
    connect(m_dialog, SIGNAL(noClicked()), this, SLOT(onDeclineClicked()));
    connect(m_dialog, SIGNAL(closeClicked()), this, SLOT(onCloseClicked()));
    connect(updater.data(), SIGNAL(firmwareUpdated(int)), this, SLOT(onFirmwareUpdated(int)));
    connect(updater.data(), SIGNAL(firmwareUpdateProgress(int)), m_dialog, SLOT(setProgress(int)));
    m_dialog->setState(0);
    m_dialog->show();
}

FirmwareUpdateController::~FirmwareUpdateController()
{
    std::fputs("~FirmwareUpdateController\n", stdout);
    delete m_dialog.data();
}

void FirmwareUpdateController::onAcceptClicked()
{
    if (!m_device)
        return;
    QSharedPointer<DeviceFirmwareUpdater> updater = m_device->deviceHandle();
    if (!updater)
        return;
    if (m_dialog)
        m_dialog->setState(1);
    IDeckControllerDevice* unit = m_device->device();
    DeckControllerConnection* connection = m_device->connection();
    // A unit in recovery has no settings to save.
    if (connection && unit && !unit->isRecovery())
        connection->applySettings();
    updater->start();
}

void FirmwareUpdateController::onFirmwareUpdated(int status)
{
    m_lastStatus = status;
    if (m_dialog)
        m_dialog->setState(status == 0 ? 2 : 3);
    if (status != 0 || !m_device)
        return;
    if (DeckControllerConnection* connection = m_device->connection())
        connection->reconnect();
    if (Family* family = m_device->owner())
        emit family->deviceInfoChanged(m_device.data());
}

void FirmwareUpdateController::onCloseClicked()
{
    if (m_lastStatus == 0 && m_device) {
        if (IDeckControllerDevice* unit = m_device->device())
            unit->reboot();
    }
    if (m_dialog)
        m_dialog->close();
}

void FirmwareUpdateController::onDeclineClicked()
{
    if (m_dialog)
        m_dialog->close();
}
