#include "kestrelnovawebviewbonjourpotentialdevice.h"

bool KestrelNovaWebViewBonjourPotentialDevice::isLegacy()
{
    return isLegacyReleaseVersion(releaseVersion());
}
