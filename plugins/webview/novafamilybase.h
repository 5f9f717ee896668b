#pragma once

#include "framework/contract/family.h"

#include <memory>

class PotentialDevice;

// What the connection managers need of the web-view family: a place to hand their potential
// devices to and take them back from. Resolve requests go out through the family's signals.
class NovaFamilyBase : public Family
{
    Q_OBJECT
public:
    using Family::Family;

    virtual void addPotentialDevice(const std::shared_ptr<PotentialDevice>& device) = 0;
    virtual void
    removePotentialDeviceByUniqueId(const std::shared_ptr<PotentialDevice>& device) = 0;
};
