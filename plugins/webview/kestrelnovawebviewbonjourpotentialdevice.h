#pragma once

#include "bonjourpotentialdevice.h"

// The plug-in's network recorder: legacy by its release version.
class KestrelNovaWebViewBonjourPotentialDevice : public BonjourPotentialDevice
{
    Q_OBJECT
public:
    using BonjourPotentialDevice::BonjourPotentialDevice;

    bool isLegacy() override;
};
