#pragma once

#include "discovery/dnssd/bonjourobject.h"
#include "discovery/records/bonjourdevice.h"
#include "discovery/threading/signal.h"

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
