#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class DnsReader;

// One record of a reply's additional section: its owner name and header, then the data that a
// subclass reads.
class DNSAdditionalRecord
{
public:
    DNSAdditionalRecord(std::string name, uint16_t type, uint16_t recordClass, uint32_t ttl,
                        uint16_t dataLength);
    virtual ~DNSAdditionalRecord();

    // Reads the record's data at *position and moves it past the data. Nothing outside the
    // data is read in place; a name in it may still point back into the message.
    bool parse(const unsigned char* message, size_t length, unsigned* position);

    virtual const unsigned char* txtData() const;
    virtual uint16_t txtLength() const;

    const std::string& name() const { return m_name; }
    uint16_t type() const { return m_type; }
    uint16_t recordClass() const { return m_class; }
    uint32_t ttl() const { return m_ttl; }
    uint16_t dataLength() const { return m_dataLength; }

protected:
    // Reads the fields of the data; the reader ends where the data ends.
    virtual bool parseData(DnsReader& reader) = 0;

private:
    std::string m_name;
    uint16_t m_type;
    uint16_t m_class;
    uint32_t m_ttl;
    uint16_t m_dataLength;
};
