#pragma once

#include "discovery/dns/dnsadditionalrecord.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DnsReader;

// The reply to a unicast PTR query: one question, one PTR answer naming the instance, and the
// SRV, TXT and A records of the instance among the additional records or among the answers.
class DNSReply
{
public:
    static constexpr uint16_t kPtrType = 12;

    DNSReply();
    ~DNSReply();

    DNSReply(const DNSReply&) = delete;
    DNSReply& operator=(const DNSReply&) = delete;

    // False for anything but a well-formed reply with one question, exactly one PTR answer for
    // the question's name, no authority records and the expected id. Never reads outside the
    // message.
    bool parse(const unsigned char* message, size_t length, uint16_t expectedId);

    uint16_t id() const { return m_id; }
    uint16_t flags() const { return m_flags; }
    uint16_t additionalCount() const { return m_additionalCount; }
    const std::string& questionName() const { return m_questionName; }
    uint16_t questionType() const { return m_questionType; }
    const std::string& answerName() const { return m_answerName; }
    // Of the PTR answer.
    uint16_t answerType() const { return m_answerType; }
    uint32_t answerTtl() const { return m_answerTtl; }
    // The first label of the PTR target.
    const std::string& instanceName() const { return m_instanceName; }
    // The SRV, TXT and A records, from the answers then the additional records.
    const std::vector<std::unique_ptr<DNSAdditionalRecord>>& additionalRecords() const
    {
        return m_records;
    }

    // Of the first SRV record: empty and 0 when there is none.
    std::string serviceTarget() const;
    uint16_t servicePort() const;
    // Of the first TXT record: null and 0 when there is none.
    const unsigned char* txtData() const;
    uint16_t txtLength() const;

private:
    void clear();
    // A record of either section; answered is null among the additional records, else it tells
    // whether the PTR answer has been read.
    bool parseRecord(DnsReader& reader, const unsigned char* message, size_t length,
                     bool* answered);
    bool parsePointer(DnsReader& reader);
    static bool sameName(const std::string& a, const std::string& b);
    template<typename Record> const Record* first() const;

    uint16_t m_id = 0;
    uint16_t m_flags = 0;
    uint16_t m_questionCount = 0;
    uint16_t m_answerCount = 0;
    uint16_t m_authorityCount = 0;
    uint16_t m_additionalCount = 0;
    std::string m_questionName;
    uint16_t m_questionType = 0;
    uint16_t m_questionClass = 0;
    std::string m_answerName;
    uint16_t m_answerType = 0;
    uint16_t m_answerClass = 0;
    uint32_t m_answerTtl = 0;
    uint16_t m_answerDataLength = 0;
    std::string m_instanceName;
    std::vector<std::unique_ptr<DNSAdditionalRecord>> m_records;
};
