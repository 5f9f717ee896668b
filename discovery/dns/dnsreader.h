#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads big-endian fields and names from a received DNS message. Every read is checked against
// the end of the current field (the message, or one record's data) in one place; names may
// jump back through compression pointers anywhere before them in the message.
class DnsReader
{
public:
    // Longest name on the wire, counting length bytes and the final zero.
    static constexpr size_t kMaxNameLength = 255;

    DnsReader(const unsigned char* message, size_t length, size_t position, size_t end);

    size_t position() const { return m_position; }
    size_t end() const { return m_end; }

    bool readU16(uint16_t* value);
    bool readU32(uint32_t* value);
    // Points at the next count bytes and steps over them.
    bool readBytes(size_t count, const unsigned char** bytes);
    bool skip(size_t count);
    // Hands the next count bytes to a reader of their own and steps over them.
    bool readField(size_t count, DnsReader* field);
    // Appends each label and a dot; the root name reads as the empty text. Refuses label types
    // 01 and 10, pointers that do not lead strictly backwards (so loops end), names longer
    // than 255 bytes, and names that run past the end.
    bool readName(std::string* out);

private:
    const unsigned char* m_message;
    size_t m_length;
    size_t m_position;
    size_t m_end;
};
