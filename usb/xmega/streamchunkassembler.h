#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VornOSRPC {

// Puts a message back together from the read chunks a unit sends: each chunk is a u32
// sequence number (0 for the first chunk of a message, then +1), the u32 total message
// length, and message bytes. Device input: every field is checked before it is used.
class StreamChunkAssembler
{
public:
    static constexpr size_t kHeaderSize = 8;
    // Larger totals are refused: no reply of the units comes near it.
    static constexpr uint32_t kMaxMessageSize = 16u * 1024 * 1024;

    enum Result {
        NeedMore, // taken; more chunks follow
        Complete, // taken; the message is whole
        Refuse,   // not taken: refuse the chunk and start again from sequence 0
        Fail,     // the unit sent more than it announced
    };

    // Whether the chunk may be taken: the expected sequence, a sane total. Changes nothing.
    Result check(const uint8_t* chunk, size_t size) const;
    // Takes a chunk that check() accepted.
    Result append(const uint8_t* chunk, size_t size);
    void reset();

    const std::vector<uint8_t>& message() const { return m_message; }
    std::vector<uint8_t> takeMessage();

private:
    bool m_started = false;
    uint32_t m_sequence = 0;
    uint32_t m_total = 0;
    std::vector<uint8_t> m_message;
};

} // namespace VornOSRPC
