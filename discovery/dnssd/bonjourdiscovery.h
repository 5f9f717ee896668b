#pragma once

#include "discovery/records/bonjourinfo.h"
#include "discovery/threading/signal.h"

#include <string>

class BonjourDiscoveryPrivate;

// Watches one service type: browses it, asks every instance for its TXT record and asks again
// every re-query period. An instance arrives with its first TXT answer, is updated when a later
// answer changes the TXT map, and is removed when the browse reports it gone. Signals are
// emitted on the DNS-SD core thread.
class BonjourDiscovery
{
public:
    static constexpr int kRequeryIntervalMs = 2000;

    explicit BonjourDiscovery(int requeryIntervalMs = kRequeryIntervalMs);
    virtual ~BonjourDiscovery();

    BonjourDiscovery(const BonjourDiscovery&) = delete;
    BonjourDiscovery& operator=(const BonjourDiscovery&) = delete;

    Signal<void(const BonjourInfo&)> deviceArrived;
    Signal<void(const BonjourInfo&)> deviceRemoved;
    Signal<void(const BonjourInfo&)> deviceUpdated;
    // Declared for consumers that connect all four; never emitted here.
    Signal<void(const BonjourInfo&)> deviceResolved;

    // Only the first call counts.
    void start(const std::string& serviceType);

private:
    BonjourDiscoveryPrivate* d;
};
