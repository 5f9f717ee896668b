#include "discovery/dns/dnssrvrecord.h"

#include "discovery/dns/dnsreader.h"

bool DNSSRVRecord::parseData(DnsReader& reader)
{
    return reader.readU16(&m_priority) && reader.readU16(&m_weight) && reader.readU16(&m_port) &&
           reader.readName(&m_target);
}
