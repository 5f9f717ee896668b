#pragma once

#include "discovery/dns/dnsadditionalrecord.h"

#include <vector>

// A TXT record: its data kept whole for the TXT parser.
class DNSTXTRecord : public DNSAdditionalRecord
{
public:
    static constexpr uint16_t kType = 16;

    using DNSAdditionalRecord::DNSAdditionalRecord;

    const unsigned char* txtData() const override;
    uint16_t txtLength() const override;

protected:
    bool parseData(DnsReader& reader) override;

private:
    std::vector<unsigned char> m_data;
};
