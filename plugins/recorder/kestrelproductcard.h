#pragma once

#include "framework/productcard.h"

#include <QPointer>

class ConnectingStatusPage;
class Family;
class FirmwareUpdateController;
class KestrelUSBConnection;
class KestrelConnectionDialog;
class KestrelSettingsPage;
class TendwellWindow;
class VisibleDevice;
class VisibleUSBKestrel;

// The card of one recorder: "Connecting..." until its connection opens, then the settings
// page; runs a firmware update when the connection or the family asks for one. Goes when its
// settings page closes (unless an update runs), after most updates, and at once when its
// recorder leaves.
class KestrelProductCard : public ProductCard
{
    Q_OBJECT
public:
    KestrelProductCard(VisibleUSBKestrel* visibleDevice, Family* family, TendwellWindow* window);
    ~KestrelProductCard() override;

    // A card made only to run an update (never shown) goes once the update has reported,
    // whatever the outcome: its family refreshes the gallery when it goes.
    void setClosesAfterUpdate(bool closes) { m_closesAfterUpdate = closes; }

    VisibleUSBKestrel* visibleDevice() const { return m_visibleDevice; }
    KestrelUSBConnection* connection() const { return m_connection; }
    FirmwareUpdateController* updateController() const { return m_updateController; }
    ConnectingStatusPage* connectingPage() const { return m_connectingPage; }
    KestrelSettingsPage* settingsPage() const { return m_settingsPage; }
    KestrelConnectionDialog* connectionDialog() const;
    // Deletion is scheduled: no further update starts.
    bool isClosing() const { return m_closing; }

public Q_SLOTS:
    void onConnectionOpened();
    void onFirmwareUpdateRequested(bool force);
    void onFirmwareUpdated(bool success);
    void onDeviceRemoved(VisibleDevice* device);
    void onSettingsClosed();

private:
    void closeLater();

    VisibleUSBKestrel* m_visibleDevice;
    KestrelUSBConnection* m_connection = nullptr;
    FirmwareUpdateController* m_updateController = nullptr;
    TendwellWindow* m_window;
    ConnectingStatusPage* m_connectingPage = nullptr;
    KestrelSettingsPage* m_settingsPage = nullptr;
    // A child of the window, which may delete it first when it goes.
    QPointer<KestrelConnectionDialog> m_connectionDialog;
    bool m_closesAfterUpdate = false;
    bool m_closing = false;
};
