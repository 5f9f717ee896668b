#pragma once

#include "sim/usbbus/transfer.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace Sim {

// The unit's byte stream to the host: whole messages go in, and every bulk read or control
// poll takes a piece of it, cut at a seeded random point, so messages span transfers and one
// transfer holds several. A bulk answer that fills the host's read with whole packets owes a
// zero-length packet, which the next read gets. Not thread-safe: its owner guards it.
class NovaTunnelStream
{
public:
    // A read answered: its bytes, and (filled in by the owner) when they are through the link.
    struct Answer
    {
        TransferPtr transfer;
        std::vector<uint8_t> data;
        std::chrono::steady_clock::time_point due;
    };
    using Ready = std::vector<Answer>;

    NovaTunnelStream(uint16_t maxPacket, uint32_t seed, bool randomCuts);

    // Reads answered by this call go into ready, to be completed without the owner's lock.
    void append(const std::vector<uint8_t>& message, Ready* ready);
    void read(const TransferPtr& transfer, Ready* ready);
    // A control poll answer of at most length bytes: u16 big-endian count, then the bytes.
    std::vector<uint8_t> poll(uint16_t length, uint16_t piece);

    // A silent stream answers no read and no poll.
    void setSilent(bool silent, Ready* ready);
    std::deque<TransferPtr> takeReads();
    void clear();

    size_t pending() const { return m_bytes.size() - m_position; }
    // Answers that ended inside a message, and zero-length packets sent.
    int splitAnswers() const { return m_splitAnswers; }
    int zeroLengthPackets() const { return m_zeroLengthPackets; }

private:
    void feed(Ready* ready);
    size_t cut(size_t limit);
    std::vector<uint8_t> take(size_t n);

    const uint16_t m_maxPacket;
    const bool m_randomCuts;
    std::mt19937 m_random;
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
    uint64_t m_taken = 0;    // bytes answered since the start
    uint64_t m_appended = 0; // bytes appended since the start
    std::deque<uint64_t> m_messageEnds;
    std::deque<TransferPtr> m_reads;
    bool m_zeroLengthDue = false;
    bool m_silent = false;
    int m_splitAnswers = 0;
    int m_zeroLengthPackets = 0;
};

} // namespace Sim
