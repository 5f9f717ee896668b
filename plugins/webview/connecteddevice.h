#pragma once

#include "connectionstate.h"
#include "firmwareupdateinfo.h"

#include <QObject>
#include <QPointer>

#include <memory>

class NovaProductCard;
class NovaVisibleDevice;
class PotentialDevice;

// The live connection with one recorder, made from its visible device's primary potential
// device while its card is open. Always owned by a shared pointer.
class ConnectedDevice : public QObject,
                        public FirmwareUpdateInfo,
                        public std::enable_shared_from_this<ConnectedDevice>
{
    Q_OBJECT
public:
    ConnectedDevice(NovaVisibleDevice* visibleDevice,
                    const std::shared_ptr<PotentialDevice>& potentialDevice);
    ~ConnectedDevice() override;

    virtual void disconnect();
    virtual QString description();
    virtual void populateCard(NovaProductCard* card) = 0;

    int state() const { return m_state; }
    int connectionType() const;
    void setState(int state);

    NovaVisibleDevice* visibleDevice() const;
    std::shared_ptr<PotentialDevice> potentialDevice() const { return m_potentialDevice; }

    bool needsFirmwareUpdate() override;
    bool supportsFirmwareUpdate() override;
    QString currentReleaseVersion() override;
    QString availableReleaseVersion() override;
    QString currentFirmwareBuild() override;
    QString availableFirmwareBuild() override;

Q_SIGNALS:
    void connectionStateChanged(ConnectionState state);
    void disconnected();

private:
    // Cleared when the visible device is destroyed.
    QPointer<QObject> m_visibleDevice;
    std::shared_ptr<PotentialDevice> m_potentialDevice;
    int m_state = Idle;
};
