#pragma once

#include "framework/contract/visibledevice.h"

#include <QObject>
#include <QPixmap>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class ConnectedDevice;
class PotentialDevice;

// One recorder in the gallery, however many ways it is reachable: the potential devices with
// its unique id, of which the one with the lowest priority value (USB before the network)
// answers for it. GUI thread only.
class NovaVisibleDevice : public QObject,
                          public VisibleDevice,
                          public std::enable_shared_from_this<NovaVisibleDevice>
{
    Q_OBJECT
public:
    using DevicePtr = std::shared_ptr<PotentialDevice>;

    NovaVisibleDevice(Family* owner, const DevicePtr& device);
    ~NovaVisibleDevice() override;

    QString productName() override { return m_productName; }
    QPixmap productPixmap() override { return m_picture; }
    QPixmap thumbnailPixmap() override { return m_thumbnail; }
    QString displayName() override { return m_displayName; }
    QPixmap launcherConnectionIcon() override;
    QPixmap cardConnectionIcon() override;
    bool isUsbDevice() override;
    bool showsFirmwareStatus() override;
    QString softwareVersion() override;
    bool isSupported() override;
    bool needsFirmwareUpdate() override;
    bool isLegacy() override;
    QString availableVersion() override { return m_availableVersion; }
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override;
    bool isTestMode() override;
    QWidget* summaryWidget() override;
    bool isConnected() override { return m_connected; }
    bool hasControlApp() override;
    QPixmap controlAppPixmap() override { return m_controlAppPixmap; }
    QPixmap controlAppHoverPixmap() override { return m_controlAppHoverPixmap; }

    void attachPotentialDevice(const DevicePtr& device);
    void detachPotentialDevice(PotentialDevice* device);
    std::shared_ptr<ConnectedDevice> createConnectedDevice();
    void showControlApp();
    void setDisplayName(const QString& name);

    DevicePtr primary() const { return m_primary; }
    // The unique id of the recorder, kept when its last potential device goes.
    QString uniqueId() const { return m_uniqueId; }
    const std::vector<DevicePtr>& potentialDevices() const { return m_devices; }
    QString productFamily() const { return m_productFamily; }
    QString availableFirmwareBuild() const { return m_availableBuild; }

    std::function<bool()> hasControlAppCallback;
    std::function<void(Family*)> showControlAppCallback;

Q_SIGNALS:
    void potentialDeviceListChanged();

private:
    void takePrimary(const DevicePtr& device);
    void reportChange();
    QPixmap connectionIcon(const char* both, const char* network, const char* usb) const;

    QString m_productName;
    QString m_productFamily;
    QPixmap m_picture;
    QPixmap m_thumbnail;
    QString m_displayName;
    QString m_availableBuild;
    QString m_availableVersion;
    uint16_t m_recordHardwareRevision = 0;
    bool m_connected = true;
    QPixmap m_controlAppPixmap;
    QPixmap m_controlAppHoverPixmap;
    DevicePtr m_primary;
    QString m_uniqueId;
    std::vector<DevicePtr> m_devices;
};
