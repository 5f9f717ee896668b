#pragma once

#include "framework/contract/visibledevice.h"

// A visible device that answers every question with a plain value the test may set.
class StubDevice : public VisibleDeviceBase
{
public:
    explicit StubDevice(Family* owner, const QString& name = QStringLiteral("D"))
        : VisibleDeviceBase(owner, name, {}, {}, 0)
    {
    }
    QString displayName() override { return shownName.isEmpty() ? name : shownName; }
    QPixmap launcherConnectionIcon() override { return {}; }
    QPixmap cardConnectionIcon() override { return cardIcon; }
    bool isUsbDevice() override { return usb; }
    bool showsFirmwareStatus() override { return false; }
    QString softwareVersion() override { return {}; }
    bool isSupported() override { return true; }
    bool needsFirmwareUpdate() override { return false; }
    bool isLegacy() override { return false; }
    QString availableVersion() override { return {}; }
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override { return {}; }

    QString shownName;
    QPixmap cardIcon;
    bool usb = false;
};
