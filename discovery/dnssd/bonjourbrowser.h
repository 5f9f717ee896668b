#pragma once

#include "discovery/dnssd/bonjourobject.h"
#include "discovery/records/bonjourdevice.h"
#include "discovery/threading/signal.h"

#include <string>

// Browses one service type in the default domain. Types and domains it reports end with a dot.
class BonjourBrowser : public BonjourObject
{
public:
    BonjourBrowser();
    ~BonjourBrowser() override;

    Signal<void(const BonjourDevice&)> added;
    Signal<void(const BonjourDevice&)> removed;

    // False when already started once or when the DNS-SD core is not running.
    bool browse(const std::string& serviceType);
};
