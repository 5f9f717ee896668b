#pragma once

#include "plugins/recorder/kestrelusbconnection.h"
#include "plugins/recorder/visiblekestrel.h"
#include "plugins/recorder/visibleusbkestrelfirmwareupdater.h"

#include <QSharedPointer>

// A recorder on USB: holds one reference on the device object and shares the device's
// firmware updater with whoever runs an update.
class VisibleUSBKestrel : public VisibleKestrel
{
public:
    // The model comes from the product id the device reports; model 6 without a name when it
    // reports none.
    VisibleUSBKestrel(CVN::DiskRecorder::IKestrel* device, Family* owner);
    ~VisibleUSBKestrel() override;

    // The version text the streaming recorder reports; empty for every other kind.
    QString softwareVersion() override;
    bool needsFirmwareUpdate() override;
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override;

    KestrelUSBConnection* createConnection() override;
    CVN::DiskRecorder::IKestrel* device() override { return m_device; }

    QSharedPointer<VisibleUSBKestrelFirmwareUpdater> firmwareUpdater() const
    {
        return m_firmwareUpdater;
    }

private:
    CVN::DiskRecorder::IKestrel* m_device;
    QSharedPointer<VisibleUSBKestrelFirmwareUpdater> m_firmwareUpdater;
};
