#include "usb/xmega/streamchunkassembler.h"

#include "platform/bytereader.h"

namespace VornOSRPC {

StreamChunkAssembler::Result StreamChunkAssembler::check(const uint8_t* chunk, size_t size) const
{
    Platform::ByteReader r(chunk, size);
    uint32_t sequence = 0, total = 0;
    if (!r.u32(0, &sequence) || !r.u32(4, &total))
        return Fail;
    if (!m_started)
        return sequence == 0 && total <= kMaxMessageSize ? NeedMore : Refuse;
    return sequence == m_sequence + 1 ? NeedMore : Refuse;
}

StreamChunkAssembler::Result StreamChunkAssembler::append(const uint8_t* chunk, size_t size)
{
    Platform::ByteReader r(chunk, size);
    uint32_t sequence = 0, total = 0;
    if (!r.u32(0, &sequence) || !r.u32(4, &total))
        return Fail;
    if (!m_started) {
        m_started = true;
        m_total = total;
        m_message.clear();
    }
    m_sequence = sequence;
    const size_t bytes = size - kHeaderSize;
    if (bytes > m_total - m_message.size())
        return Fail;
    m_message.insert(m_message.end(), chunk + kHeaderSize, chunk + size);
    return m_message.size() == m_total ? Complete : NeedMore;
}

void StreamChunkAssembler::reset()
{
    m_started = false;
    m_sequence = 0;
    m_total = 0;
    m_message.clear();
}

std::vector<uint8_t> StreamChunkAssembler::takeMessage()
{
    std::vector<uint8_t> message;
    message.swap(m_message);
    reset();
    return message;
}

} // namespace VornOSRPC
