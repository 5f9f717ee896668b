#include "plugins/recorder/kestrelproductcard.h"

#include "framework/accentcolour.h"
#include "framework/connectingstatuspage.h"
#include "framework/contract/family.h"
#include "framework/contract/tendwellwindow.h"
#include "plugins/recorder/firmwareupdatecontroller.h"
#include "plugins/recorder/kestrelconnectiondialog.h"
#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/kestrelsettingspage.h"
#include "plugins/recorder/kestrelusbconnection.h"
#include "plugins/recorder/visibleusbkestrel.h"

KestrelProductCard::KestrelProductCard(VisibleUSBKestrel* visibleDevice, Family* family,
                                       TendwellWindow* window)
    : ProductCard(visibleDevice, window, accentColour())
    , m_visibleDevice(visibleDevice)
    , m_window(window)
{
    m_connection = visibleDevice->createConnection();
    if (family)
        connect(family, qOverload<VisibleDevice*>(&Family::deviceRemoved), this,
                &KestrelProductCard::onDeviceRemoved);
    connect(m_connection, &KestrelUSBConnection::connectionOpened, this,
            &KestrelProductCard::onConnectionOpened);
    connect(m_connection, &KestrelUSBConnection::requiresFirmwareUpdate, this,
            &KestrelProductCard::onFirmwareUpdateRequested);

    m_connectingPage = new ConnectingStatusPage(this);
    connect(m_connectingPage, &ConnectingStatusPage::connectionCancelled, this,
            &KestrelProductCard::close);
    addPage(m_connectingPage);

    if (m_connection->isOpen())
        onConnectionOpened();
}

KestrelProductCard::~KestrelProductCard()
{
    if (m_updateController) {
        // Its report no longer has anyone to reach.
        disconnect(m_updateController, nullptr, this, nullptr);
        m_updateController->deleteLater();
        m_updateController = nullptr;
    }
    delete m_connection;
    m_connection = nullptr;
    delete m_settingsPage;
    m_settingsPage = nullptr;
    delete m_connectionDialog.data();
}

KestrelConnectionDialog* KestrelProductCard::connectionDialog() const
{
    return m_connectionDialog;
}

void KestrelProductCard::onConnectionOpened()
{
    if (m_settingsPage)
        return;
    m_connectionDialog = new KestrelConnectionDialog(m_connection, m_window);
    m_settingsPage = new KestrelSettingsPage(m_connection, this);
    connect(m_settingsPage, &SettingsPage::closePage, this, &KestrelProductCard::onSettingsClosed);
    addPage(m_settingsPage);
    showPage(m_settingsPage);
}

void KestrelProductCard::onFirmwareUpdateRequested(bool force)
{
    // One update at a time, and none once the card is on its way out: its deletion would take
    // the update's dialog with it.
    if (m_closing || m_updateController)
        return;
    m_connection->stopPolling();
    m_updateController = new FirmwareUpdateController(m_window, m_visibleDevice);
    if (m_connection->hasSettingsError())
        m_updateController->setCodec(
            KestrelSettings::legacyFourCC(m_connection->settings().legacyCodec));
    connect(m_updateController, &FirmwareUpdateController::firmwareUpdated, this,
            &KestrelProductCard::onFirmwareUpdated);
    // May report at once, when there is nothing to update.
    m_updateController->begin(force);
}

void KestrelProductCard::onFirmwareUpdated(bool success)
{
    if (m_updateController) {
        m_updateController->deleteLater();
        m_updateController = nullptr;
    }
    const bool settingsError = m_connection->hasSettingsError();
    if (success && !settingsError && !m_closesAfterUpdate) {
        m_connection->startPolling();
        return;
    }
    // Closing first: the write may ask for another update, which must not start now.
    closeLater();
    if (success && settingsError)
        m_connection->retryWrite();
}

void KestrelProductCard::onDeviceRemoved(VisibleDevice* device)
{
    if (!device || device != static_cast<VisibleDevice*>(m_visibleDevice))
        return;
    delete m_connection;
    m_connection = nullptr;
    delete m_settingsPage;
    m_settingsPage = nullptr;
    // Its visible device is deleted as soon as this signal has been handled.
    delete this;
}

void KestrelProductCard::onSettingsClosed()
{
    delete m_connectionDialog.data();
    if (!m_updateController)
        closeLater();
}

void KestrelProductCard::closeLater()
{
    m_closing = true;
    deleteLater();
}
