#include "discovery/dns/dnstxtrecord.h"

#include "discovery/dns/dnsreader.h"

bool DNSTXTRecord::parseData(DnsReader& reader)
{
    const unsigned char* bytes;
    if (!reader.readBytes(dataLength(), &bytes))
        return false;
    m_data.assign(bytes, bytes + dataLength());
    return true;
}

const unsigned char* DNSTXTRecord::txtData() const
{
    return m_data.data();
}

uint16_t DNSTXTRecord::txtLength() const
{
    return uint16_t(m_data.size());
}
