#pragma once

#include "discovery/dns/dnsadditionalrecord.h"

// An SRV record: where the instance is served.
class DNSSRVRecord : public DNSAdditionalRecord
{
public:
    static constexpr uint16_t kType = 33;

    using DNSAdditionalRecord::DNSAdditionalRecord;

    uint16_t priority() const { return m_priority; }
    uint16_t weight() const { return m_weight; }
    uint16_t port() const { return m_port; }
    // As read from the wire, ending in a dot.
    const std::string& target() const { return m_target; }

protected:
    bool parseData(DnsReader& reader) override;

private:
    uint16_t m_priority = 0;
    uint16_t m_weight = 0;
    uint16_t m_port = 0;
    std::string m_target;
};
