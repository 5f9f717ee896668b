#pragma once

#include "discovery/dnssd/bonjourobject.h"
#include "discovery/threading/signal.h"

#include <string>

// Looks up the IPv4 address of a host name by multicast DNS. found carries the label given to
// lookup and the address as dotted-quad text; error carries the host name.
class BonjourHostnameLookup : public BonjourObject
{
public:
    BonjourHostnameLookup();
    ~BonjourHostnameLookup() override;

    Signal<void(const std::string&, int)> error;
    Signal<void(const std::string&, const std::string&)> found;

    // False when already started once or when the DNS-SD core is not running.
    bool lookup(const std::string& label, const std::string& hostName);
};
