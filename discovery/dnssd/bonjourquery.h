#pragma once

#include "discovery/dnssd/bonjourobject.h"
#include "discovery/records/bonjourdevice.h"
#include "discovery/threading/signal.h"

// Asks for the TXT record of one service instance. txt hands over the record's data in wire
// form (length-prefixed strings); the pointer is valid only during the emission.
class BonjourQuery : public BonjourObject
{
public:
    BonjourQuery();
    ~BonjourQuery() override;

    Signal<void(const BonjourDevice&, int)> error;
    Signal<void(const BonjourDevice&, unsigned short, const void*)> txt;

    // False when already started once, when the instance has no valid full name or when the
    // DNS-SD core is not running.
    bool query(const BonjourDevice& device);
    // The instance asked for; set by query.
    const BonjourDevice& device() const;
};
