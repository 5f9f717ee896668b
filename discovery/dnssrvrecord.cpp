#include "discovery/dnssrvrecord.h"

#include "discovery/dnsreader.h"

bool DNSSRVRecord::parseData(DnsReader& reader)
{
    return reader.readU16(&m_priority) && reader.readU16(&m_weight) && reader.readU16(&m_port) &&
           reader.readName(&m_target);
}
