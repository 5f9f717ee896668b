#include "discovery/dns/dnsadditionalrecord.h"

#include "discovery/dns/dnsreader.h"

DNSAdditionalRecord::DNSAdditionalRecord(std::string name, uint16_t type, uint16_t recordClass,
                                         uint32_t ttl, uint16_t dataLength)
    : m_name(std::move(name))
    , m_type(type)
    , m_class(recordClass)
    , m_ttl(ttl)
    , m_dataLength(dataLength)
{
}

DNSAdditionalRecord::~DNSAdditionalRecord() = default;

bool DNSAdditionalRecord::parse(const unsigned char* message, size_t length, unsigned* position)
{
    const size_t start = *position;
    if (start > length || m_dataLength > length - start)
        return false;
    const size_t end = start + m_dataLength;
    DnsReader reader(message, length, start, end);
    if (!parseData(reader))
        return false;
    *position = unsigned(end);
    return true;
}

const unsigned char* DNSAdditionalRecord::txtData() const
{
    return nullptr;
}

uint16_t DNSAdditionalRecord::txtLength() const
{
    return 0;
}
