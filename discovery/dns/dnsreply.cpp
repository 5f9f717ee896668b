#include "discovery/dns/dnsreply.h"

#include "discovery/dns/dnshostaddressrecord.h"
#include "discovery/dns/dnsmessage.h"
#include "discovery/dns/dnsreader.h"
#include "discovery/dns/dnssrvrecord.h"
#include "discovery/dns/dnstxtrecord.h"

#include <algorithm>

DNSReply::DNSReply() = default;

DNSReply::~DNSReply() = default;

void DNSReply::clear()
{
    m_id = m_flags = m_questionCount = m_answerCount = m_authorityCount = m_additionalCount = 0;
    m_questionName.clear();
    m_questionType = m_questionClass = 0;
    m_answerName.clear();
    m_answerType = m_answerClass = m_answerDataLength = 0;
    m_answerTtl = 0;
    m_instanceName.clear();
    m_records.clear();
}

bool DNSReply::parse(const unsigned char* message, size_t length, uint16_t expectedId)
{
    clear();
    if (!message)
        return false;
    DnsReader reader(message, length, 0, length);
    if (!(reader.readU16(&m_id) && reader.readU16(&m_flags) && reader.readU16(&m_questionCount) &&
          reader.readU16(&m_answerCount) && reader.readU16(&m_authorityCount) &&
          reader.readU16(&m_additionalCount)))
        return false;
    if (m_questionCount != 1 || m_answerCount == 0 || m_authorityCount != 0 || m_id != expectedId)
        return false;
    if (!(reader.readName(&m_questionName) && reader.readU16(&m_questionType) &&
          reader.readU16(&m_questionClass)))
        return false;
    // Most responders answer with the PTR alone and put the instance's records among the
    // additional ones; avahi-daemon puts them all among the answers. Either way exactly one
    // PTR answer, for the type asked, names the instance.
    bool answered = false;
    for (unsigned i = 0; i < m_answerCount; ++i) {
        if (!parseRecord(reader, message, length, &answered))
            return false;
    }
    if (!answered)
        return false;
    for (unsigned i = 0; i < m_additionalCount; ++i) {
        if (!parseRecord(reader, message, length, nullptr))
            return false;
    }
    return true;
}

bool DNSReply::parsePointer(DnsReader& reader)
{
    // The PTR target must lie within the answer's data; reading goes on after that data.
    DnsReader data(nullptr, 0, 0, 0);
    if (!reader.readField(m_answerDataLength, &data))
        return false;
    std::string target;
    if (!data.readName(&target))
        return false;
    const std::vector<std::string> labels = splitString(target, '.');
    if (!labels.empty())
        m_instanceName = labels.front();
    return true;
}

bool DNSReply::parseRecord(DnsReader& reader, const unsigned char* message, size_t length,
                           bool* answered)
{
    std::string name;
    uint16_t type = 0;
    uint16_t recordClass = 0;
    uint32_t ttl = 0;
    uint16_t dataLength = 0;
    if (!(reader.readName(&name) && reader.readU16(&type) && reader.readU16(&recordClass) &&
          reader.readU32(&ttl) && reader.readU16(&dataLength)))
        return false;
    if (answered && type == kPtrType) {
        // A second PTR answer, or one for another name than the question's, is not our reply.
        if (*answered || !sameName(name, m_questionName))
            return false;
        *answered = true;
        m_answerName = name;
        m_answerType = type;
        m_answerClass = recordClass;
        m_answerTtl = ttl;
        m_answerDataLength = dataLength;
        return parsePointer(reader);
    }
    std::unique_ptr<DNSAdditionalRecord> record;
    switch (type) {
    case DNSHostAddressRecord::kType:
        record = std::make_unique<DNSHostAddressRecord>(name, type, recordClass, ttl, dataLength);
        break;
    case DNSTXTRecord::kType:
        record = std::make_unique<DNSTXTRecord>(name, type, recordClass, ttl, dataLength);
        break;
    case DNSSRVRecord::kType:
        record = std::make_unique<DNSSRVRecord>(name, type, recordClass, ttl, dataLength);
        break;
    default:
        // Records of other types (AAAA, NSEC, ...) are stepped over.
        return reader.skip(dataLength);
    }
    unsigned position = unsigned(reader.position());
    DNSAdditionalRecord* added = record.get();
    m_records.push_back(std::move(record));
    // The record checks that its data lies inside the message and steps past all of it.
    if (!added->parse(message, length, &position))
        return false;
    return reader.skip(position - reader.position());
}

bool DNSReply::sameName(const std::string& a, const std::string& b)
{
    // DNS names compare without regard to ASCII case.
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

template<typename Record> const Record* DNSReply::first() const
{
    for (const auto& record : m_records) {
        if (const auto* found = dynamic_cast<const Record*>(record.get()))
            return found;
    }
    return nullptr;
}

std::string DNSReply::serviceTarget() const
{
    const DNSSRVRecord* srv = first<DNSSRVRecord>();
    return srv ? srv->target() : std::string();
}

uint16_t DNSReply::servicePort() const
{
    const DNSSRVRecord* srv = first<DNSSRVRecord>();
    return srv ? srv->port() : 0;
}

const unsigned char* DNSReply::txtData() const
{
    const DNSTXTRecord* txt = first<DNSTXTRecord>();
    return txt ? txt->txtData() : nullptr;
}

uint16_t DNSReply::txtLength() const
{
    const DNSTXTRecord* txt = first<DNSTXTRecord>();
    return txt ? txt->txtLength() : 0;
}
