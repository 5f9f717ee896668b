#pragma once

#include "discovery/bonjourdevice.h"
#include "discovery/bonjourobject.h"
#include "discovery/signal.h"

#include <string>

// Resolves one service instance to its host name (ending with a dot) and port.
class BonjourResolver : public BonjourObject
{
public:
    BonjourResolver();
    ~BonjourResolver() override;

    Signal<void(const BonjourDevice&, int)> error;
    Signal<void(const BonjourDevice&, std::string, unsigned short)> resolved;

    // False when already started once or when the DNS-SD core is not running.
    bool resolve(const BonjourDevice& device);
};
