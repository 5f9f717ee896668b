#pragma once

#include "discovery/dns/dnsadditionalrecord.h"

// An A record: the IPv4 address as dotted-quad text.
class DNSHostAddressRecord : public DNSAdditionalRecord
{
public:
    static constexpr uint16_t kType = 1;

    using DNSAdditionalRecord::DNSAdditionalRecord;

    const std::string& address() const { return m_address; }

protected:
    bool parseData(DnsReader& reader) override;

private:
    std::string m_address;
};
