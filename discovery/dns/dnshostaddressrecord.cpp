#include "discovery/dns/dnshostaddressrecord.h"

#include "discovery/dns/dnsreader.h"

bool DNSHostAddressRecord::parseData(DnsReader& reader)
{
    const unsigned char* bytes;
    if (!reader.readBytes(4, &bytes))
        return false;
    m_address = std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' +
                std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
    return true;
}
