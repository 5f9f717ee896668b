#pragma once

#include "discovery/dns/dnsqueryclient.h"
#include "discovery/records/bonjourinfo.h"
#include "discovery/threading/periodictimer.h"

#include <string>

class BonjourInfoQuery;

class BonjourInfoQueryPrivate
{
public:
    explicit BonjourInfoQueryPrivate(BonjourInfoQuery& owner);
    virtual ~BonjourInfoQueryPrivate();

    void onReply(bool ok);
    void onTimeout();

    BonjourInfoQuery& owner;
    BonjourInfo result;
    DNSQueryClient client;
    std::string host;
    PeriodicTimer timer;
};
