#include "plugins/webview/transport/connectionbuffer.h"

#include <algorithm>
#include <cstring>

namespace CVN {
namespace USBTunnel {

// Left uninitialised: a connection that carries little never touches most of its 4 MiB.
ConnectionBuffer::ConnectionBuffer()
    : m_ring(new char[kRingSize])
{
}

void ConnectionBuffer::append(const char* data, uint64_t size)
{
    size = std::min(size, freeSpace());
    const uint64_t end = (m_start + m_count) % kRingSize;
    const uint64_t first = std::min(size, kRingSize - end);
    memcpy(m_ring.get() + end, data, first);
    memcpy(m_ring.get(), data + first, size - first);
    m_count += size;
}

uint64_t ConnectionBuffer::take(char* dest, uint64_t max)
{
    const uint64_t size = std::min(max, m_count);
    const uint64_t first = std::min(size, kRingSize - m_start);
    memcpy(dest, m_ring.get() + m_start, first);
    memcpy(dest + first, m_ring.get(), size - first);
    m_start = (m_start + size) % kRingSize;
    m_count -= size;
    m_ungranted += size;
    return size;
}

void ConnectionBuffer::discardAll()
{
    m_ungranted += m_count;
    m_count = 0;
    m_start = 0;
}

uint64_t ConnectionBuffer::grantableTokens()
{
    const uint64_t tokens = m_ungranted / kTokenBytes;
    m_ungranted %= kTokenBytes;
    return tokens;
}

void ConnectionBuffer::returnTokens(uint64_t tokens)
{
    m_ungranted += tokens * kTokenBytes;
}

void ConnectionBuffer::addCredit(uint64_t tokens)
{
    const uint64_t bytes = std::min(tokens, kRingSize / kTokenBytes) * kTokenBytes;
    m_sendCredit = std::min(kRingSize, m_sendCredit + bytes);
}

void ConnectionBuffer::returnCredit(uint64_t bytes)
{
    m_sendCredit = std::min(kRingSize, m_sendCredit + bytes);
}

} // namespace USBTunnel
} // namespace CVN
