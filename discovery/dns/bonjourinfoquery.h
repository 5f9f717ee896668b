#pragma once

#include "discovery/records/bonjourinfo.h"
#include "discovery/threading/signal.h"

#include <memory>
#include <string>

class BonjourInfoQueryPrivate;

// Asks one host, by a unicast PTR query to its port 5353, which instance of a service type it
// offers. completed(true) follows a reply that parsed, with info() filled; completed(false)
// follows a reply that did not, and every time-out period without one until destruction.
// Slots run on the query's own threads; never destroy the query from one of them.
class BonjourInfoQuery
{
public:
    static constexpr uint16_t kPort = 5353;

    BonjourInfoQuery();
    virtual ~BonjourInfoQuery();

    BonjourInfoQuery(const BonjourInfoQuery&) = delete;
    BonjourInfoQuery& operator=(const BonjourInfoQuery&) = delete;

    Signal<void(bool)> completed;

    // A second query before the first one's reply sends nothing.
    void query(const std::string& host, int timeoutMs, const std::string& serviceType);
    // Meaningful after completed(true).
    const BonjourInfo& info() const;

private:
    std::unique_ptr<BonjourInfoQueryPrivate> d;
};
