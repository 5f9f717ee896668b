#pragma once

#include "sim/fx2/fx2peripheral.h"

#include <mutex>
#include <vector>

namespace Sim {

// An AT25 SPI EEPROM behind the FX2 controller: request 0xDE sets the write address (two
// bytes, high first), the next 32-byte block on the bulk pipe is written there, 0xDF reads
// 0 while the write is busy, and 0xCF reads (address bits 16-23 in wValue, 0-15 in wIndex).
class At25Eeprom : public Fx2Peripheral
{
public:
    static constexpr size_t kPageSize = 32;

    explicit At25Eeprom(size_t size = 32768);

    uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                     std::vector<uint8_t>* in) override;
    uint32_t bulkOut(const std::vector<uint8_t>& data) override;

    std::vector<uint8_t> contents() const;
    void setContents(std::vector<uint8_t> contents);
    // Ready polls that read 0 after each page write (-1: never ready).
    void setBusyPolls(int polls);
    // Addresses of the page writes, in order.
    std::vector<uint32_t> writeAddresses() const;

private:
    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_memory;
    uint32_t m_address = 0;
    int m_busy = 0;
    int m_busyPolls = 1;
    std::vector<uint32_t> m_writes;
};

} // namespace Sim
