#pragma once

#include "framework/commondialog.h"
#include "framework/productcard.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

class ConnectingStatusPage;
class DeckControllerSettingsPage;
class VisibleDeckController;
class VisibleDevice;

// The card of one deck controller: "Connecting..." until the unit's connection says it is
// connected, then its settings page; when the unit is not found within kConnectTimeoutMs the
// card hides and says so. Closes itself when the unit leaves.
class DeckControllerProductCard : public ProductCard
{
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 10000;

    class UpdateErrorDialog : public CommonDialog
    {
    public:
        using CommonDialog::CommonDialog;
    };
    class UnableToConnectDialog : public CommonDialog
    {
    public:
        using CommonDialog::CommonDialog;
    };

    DeckControllerProductCard(VisibleDeckController* device, QMainWindow* window);
    ~DeckControllerProductCard() override;

    ConnectingStatusPage* connectingPage() const { return m_connectingPage; }
    DeckControllerSettingsPage* settingsPage() const { return m_settingsPage; }
    QTimer* connectionTimer() const { return m_timer.get(); }
    UpdateErrorDialog* updateErrorDialog() const { return m_updateError; }
    UnableToConnectDialog* unableToConnectDialog() const { return m_unableToConnect; }

    // The report of the unit-information box.
    QString unitInformation() const;

Q_SIGNALS:
    void firmwareUpdateRequested(VisibleDeckController* device, QMainWindow* parent);

public Q_SLOTS:
    void onConnectionTimeout();
    void onConnectionStatusChanged(VisibleDevice* device);
    void onShowProductEasterEgg() override;
    void onDeviceRemoved(VisibleDevice* device);

private Q_SLOTS:
    void onFirmwareUpdateRequested(VisibleDevice* device);

private:
    bool isOwnDevice(VisibleDevice* device) const;

    VisibleDeckController* m_device;
    QMainWindow* m_window;
    ConnectingStatusPage* m_connectingPage;
    DeckControllerSettingsPage* m_settingsPage;
    std::unique_ptr<QTimer> m_timer;
    // Children of the main window, which may delete them first when it goes.
    QPointer<UpdateErrorDialog> m_updateError;
    QPointer<UnableToConnectDialog> m_unableToConnect;
};
