#include "discovery/dns/dnsreader.h"

#include <algorithm>

DnsReader::DnsReader(const unsigned char* message, size_t length, size_t position, size_t end)
    : m_message(message)
    , m_length(length)
    , m_position(position)
    , m_end(std::min(end, length))
{
}

bool DnsReader::readBytes(size_t count, const unsigned char** bytes)
{
    if (m_position > m_end || count > m_end - m_position)
        return false;
    *bytes = m_message + m_position;
    m_position += count;
    return true;
}

bool DnsReader::skip(size_t count)
{
    const unsigned char* ignored;
    return readBytes(count, &ignored);
}

bool DnsReader::readField(size_t count, DnsReader* field)
{
    const size_t start = m_position;
    if (!skip(count))
        return false;
    *field = DnsReader(m_message, m_length, start, start + count);
    return true;
}

bool DnsReader::readU16(uint16_t* value)
{
    const unsigned char* p;
    if (!readBytes(2, &p))
        return false;
    *value = uint16_t(p[0] << 8 | p[1]);
    return true;
}

bool DnsReader::readU32(uint32_t* value)
{
    const unsigned char* p;
    if (!readBytes(4, &p))
        return false;
    *value = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return true;
}

bool DnsReader::readName(std::string* out)
{
    out->clear();
    size_t offset = m_position;
    // Bytes read in place stop at the field's end; after a jump, at the message's end.
    size_t limit = m_end;
    // Where the walk last started; each pointer must lead before it, so the walk ends.
    size_t segmentStart = m_position;
    bool jumped = false;
    size_t wireLength = 0;
    for (;;) {
        if (offset >= limit)
            return false;
        const unsigned b = m_message[offset];
        if (b == 0) {
            if (++wireLength > kMaxNameLength)
                return false;
            if (!jumped)
                m_position = offset + 1;
            return true;
        }
        if (b <= 63) {
            if (b > limit - offset - 1)
                return false;
            wireLength += 1 + b;
            if (wireLength >= kMaxNameLength)
                return false;
            out->append(reinterpret_cast<const char*>(m_message + offset + 1), b);
            out->push_back('.');
            offset += 1 + b;
            continue;
        }
        if (b < 192)
            return false;
        if (limit - offset < 2)
            return false;
        const size_t target = (size_t(b & 0x3F) << 8) | m_message[offset + 1];
        if (target >= segmentStart)
            return false;
        if (!jumped)
            m_position = offset + 2;
        jumped = true;
        segmentStart = target;
        offset = target;
        limit = m_length;
    }
}
