#pragma once

#include <QPixmap>
#include <QSharedPointer>
#include <QString>

class DeviceFirmwareUpdater;
class Family;
class QWidget;

// How the gallery and the card UI see one physical device; each plug-in implements it.
class VisibleDevice
{
public:
    explicit VisibleDevice(Family* owner);
    virtual ~VisibleDevice();

    virtual QString productName() = 0;
    virtual QPixmap productPixmap() = 0;
    virtual QPixmap thumbnailPixmap() = 0;
    // The label under the device, and the list's sort key.
    virtual QString displayName() = 0;
    virtual QPixmap launcherConnectionIcon() = 0;
    virtual QPixmap cardConnectionIcon() = 0;
    virtual bool isUsbDevice();
    virtual bool showsFirmwareStatus() = 0;
    virtual QString softwareVersion() = 0;
    virtual bool isSupported() = 0;
    virtual bool needsFirmwareUpdate() = 0;
    virtual bool isLegacy() = 0;
    virtual QString availableVersion() = 0;
    virtual QSharedPointer<DeviceFirmwareUpdater> deviceHandle() = 0;
    virtual bool isTestMode();
    virtual QWidget* summaryWidget();
    virtual bool isConnected();
    virtual bool hasControlApp();
    virtual QPixmap controlAppPixmap();
    virtual QPixmap controlAppHoverPixmap();
    virtual Family* owner();

private:
    Family* m_owner;
};

// The common fields of a plug-in's visible device.
class VisibleDeviceBase : public VisibleDevice
{
public:
    VisibleDeviceBase(Family* owner, const QString& name, const QPixmap& picture,
                      const QPixmap& thumbnail, quint32 productId);

    QString productName() override { return name; }
    QPixmap productPixmap() override { return picture; }
    QPixmap thumbnailPixmap() override { return thumbnail; }
    QString displayName() override { return name; }

    QString name;
    QPixmap picture;
    QPixmap thumbnail;
    quint32 productId = 0;
};
