#include "sim/novarecorder/novatunnelstream.h"

#include "sim/usbbus/usbdstatus.h"

#include <algorithm>

namespace Sim {

NovaTunnelStream::NovaTunnelStream(uint16_t maxPacket, uint32_t seed, bool randomCuts)
    : m_maxPacket(maxPacket ? maxPacket : 512)
    , m_randomCuts(randomCuts)
    , m_random(seed)
{
}

void NovaTunnelStream::append(const std::vector<uint8_t>& message, Ready* ready)
{
    if (message.empty())
        return;
    // Compact once the answered part dominates, so the buffer stays near what is pending.
    if (m_position > 65536 && m_position * 2 > m_bytes.size()) {
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + long(m_position));
        m_position = 0;
    }
    m_bytes.insert(m_bytes.end(), message.begin(), message.end());
    m_appended += message.size();
    m_messageEnds.push_back(m_appended);
    feed(ready);
}

void NovaTunnelStream::read(const TransferPtr& transfer, Ready* ready)
{
    m_reads.push_back(transfer);
    feed(ready);
}

size_t NovaTunnelStream::cut(size_t limit)
{
    if (!m_randomCuts || limit <= 1)
        return limit;
    // Half the answers take all they can, so bulk data still flows at speed.
    if (std::uniform_int_distribution<int>(0, 1)(m_random) == 0)
        return limit;
    return std::uniform_int_distribution<size_t>(1, limit)(m_random);
}

std::vector<uint8_t> NovaTunnelStream::take(size_t n)
{
    std::vector<uint8_t> out(m_bytes.begin() + long(m_position),
                             m_bytes.begin() + long(m_position + n));
    m_position += n;
    m_taken += n;
    bool atEnd = false;
    while (!m_messageEnds.empty() && m_messageEnds.front() <= m_taken) {
        atEnd = m_messageEnds.front() == m_taken;
        m_messageEnds.pop_front();
    }
    if (!atEnd && n > 0)
        ++m_splitAnswers;
    if (m_position == m_bytes.size()) {
        m_bytes.clear();
        m_position = 0;
    }
    return out;
}

void NovaTunnelStream::feed(Ready* ready)
{
    while (!m_silent && !m_reads.empty() && (pending() > 0 || m_zeroLengthDue)) {
        TransferPtr read = m_reads.front();
        m_reads.pop_front();
        if (read->isCancelled())
            continue;
        if (m_zeroLengthDue) {
            m_zeroLengthDue = false;
            ++m_zeroLengthPackets;
            ready->push_back({read, {}, {}});
            continue;
        }
        const size_t want = read->inLength();
        const size_t n = cut(std::min(want, pending()));
        m_zeroLengthDue = n == want && n % m_maxPacket == 0;
        ready->push_back({read, take(n), {}});
    }
}

std::vector<uint8_t> NovaTunnelStream::poll(uint16_t length, uint16_t piece)
{
    std::vector<uint8_t> answer(length, 0);
    if (length < 2)
        return answer;
    const size_t n =
        m_silent ? 0 : cut(std::min<size_t>({size_t(length - 2), piece, pending()}));
    const std::vector<uint8_t> bytes = take(n);
    answer[0] = uint8_t(n >> 8);
    answer[1] = uint8_t(n);
    std::copy(bytes.begin(), bytes.end(), answer.begin() + 2);
    return answer;
}

void NovaTunnelStream::setSilent(bool silent, Ready* ready)
{
    m_silent = silent;
    feed(ready);
}

std::deque<TransferPtr> NovaTunnelStream::takeReads()
{
    std::deque<TransferPtr> reads;
    reads.swap(m_reads);
    return reads;
}

void NovaTunnelStream::clear()
{
    m_bytes.clear();
    m_position = 0;
    m_taken = m_appended = 0;
    m_messageEnds.clear();
    m_zeroLengthDue = false;
}

} // namespace Sim
