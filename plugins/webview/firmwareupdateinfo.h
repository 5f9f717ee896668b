#pragma once

#include <QString>

// What the firmware-update dialog asks of a connected device.
class FirmwareUpdateInfo
{
public:
    virtual ~FirmwareUpdateInfo() = default;
    virtual bool needsFirmwareUpdate() = 0;
    virtual bool supportsFirmwareUpdate() = 0;
    virtual QString currentReleaseVersion() = 0;
    virtual QString availableReleaseVersion() = 0;
    virtual QString currentFirmwareBuild() = 0;
    virtual QString availableFirmwareBuild() = 0;
};
