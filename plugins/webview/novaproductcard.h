#pragma once

#include "connectionstate.h"
#include "framework/productcard.h"

#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <memory>

class ConnectedDevice;
class QDialog;
class NovaVisibleDevice;

// The card of one web-view recorder: owns the connected device while open, shows the connecting
// page until it is connected and the device's own pages after, and starts over with a fresh
// connected device every kRetryMs while the connection is interrupted.
class NovaProductCard : public ProductCard
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 2000;

    NovaProductCard(const std::shared_ptr<ConnectedDevice>& device, QWidget* window,
                    const QColor& accent);
    NovaProductCard(NovaVisibleDevice* device, QWidget* window, const QColor& accent);
    ~NovaProductCard() override;

    void setConnectedDevice(const std::shared_ptr<ConnectedDevice>& device);
    std::shared_ptr<ConnectedDevice> connectedDevice() const { return m_device; }
    QMenu* deviceActionsMenu() { return &m_menu; }
    QTimer* retryTimer() { return &m_retryTimer; }
    // Refreshes the header's name from the visible device, when it still exists.
    void refreshDeviceName();
    // The plain-text report of the device and of the firmware the plug-in carries.
    QString deviceDetails() const;
    // The window that shows the report over the card's top-level window, with the card's
    // "Device Actions"; the caller runs and deletes it.
    QDialog* createDeviceDetailsDialog();

Q_SIGNALS:
    void firmwareUpdateRequested(bool confirm);

public Q_SLOTS:
    void onConnectionChanged(ConnectionState state);
    // The device-details window, run until it is closed.
    void onShowProductEasterEgg() override;

private:
    NovaProductCard(const std::shared_ptr<ConnectedDevice>& device, NovaVisibleDevice* visible,
                    QWidget* window, const QColor& accent);
    NovaVisibleDevice* visibleDevice() const;
    void retry();
    void clearPages();

    // Kept apart from the connected device, so a card without one can still make one.
    QPointer<QObject> m_visible;
    std::shared_ptr<ConnectedDevice> m_device;
    bool m_closing = false;
    QTimer m_retryTimer;
    QMenu m_menu;
    bool m_forceUpdateAllowed = false;
};
