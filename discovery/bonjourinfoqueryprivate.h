#pragma once

#include "discovery/bonjourinfo.h"
#include "discovery/dnsqueryclient.h"
#include "discovery/periodictimer.h"

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
