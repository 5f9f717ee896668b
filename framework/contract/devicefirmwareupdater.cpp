#include "framework/contract/devicefirmwareupdater.h"

DeviceFirmwareUpdater::~DeviceFirmwareUpdater() = default;

int DeviceFirmwareUpdater::percentFromFraction(double fraction)
{
    if (fraction < 0)
        return -1;
    return static_cast<int>(fraction * 100);
}
