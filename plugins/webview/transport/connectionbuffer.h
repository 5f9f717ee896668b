#pragma once

#include <cstdint>
#include <memory>

namespace CVN {
namespace USBTunnel {

// One connection's receive ring and its flow-control counts. Used on the tunnel's work
// thread only.
class ConnectionBuffer
{
public:
    static constexpr uint64_t kRingSize = 4194304;
    static constexpr uint64_t kTokenBytes = 1024;

    ConnectionBuffer();

    uint64_t available() const { return m_count; }
    uint64_t freeSpace() const { return kRingSize - m_count; }
    // The caller checks freeSpace() first; bytes beyond it are not stored.
    void append(const char* data, uint64_t size);
    uint64_t take(char* dest, uint64_t max);
    void discardAll();

    // Whole KiB of freed receive space, taken out to be granted; the remainder stays.
    uint64_t grantableTokens();
    void returnTokens(uint64_t tokens);
    uint64_t ungrantedBytes() const { return m_ungranted; }

    // Credit never grows beyond what a ring holds, however large the grant: a count of
    // any size is kept, and nothing overflows.
    void addCredit(uint64_t tokens);
    void spendCredit(uint64_t bytes) { m_sendCredit -= bytes; }
    void returnCredit(uint64_t bytes);
    uint64_t sendCredit() const { return m_sendCredit; }

private:
    std::unique_ptr<char[]> m_ring;
    uint64_t m_start = 0;
    uint64_t m_count = 0;
    uint64_t m_sendCredit = 0;
    uint64_t m_ungranted = kRingSize;
};

} // namespace USBTunnel
} // namespace CVN
