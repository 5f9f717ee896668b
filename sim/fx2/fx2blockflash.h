#pragma once

#include "sim/fx2/fx2peripheral.h"

#include <mutex>
#include <vector>

namespace Sim {

// A block-erasable flash behind the FX2 controller. Block erase by request 0xE0 (the block
// address, most significant byte first), a ready byte by 0xDF (0 while an erase or write is
// busy), and data on the bulk pipe in one of three forms: whole pages at the address of the
// last 0xDE request, the address inline in front of the data, or a plain stream from the
// start. Programming only clears bits, as NOR flash does, so a missed erase shows.
class Fx2BlockFlash : public Fx2Peripheral
{
public:
    enum WriteFormat { Paged, Inline, Stream };

    struct Geometry
    {
        uint32_t blockSize = 65536;
        uint32_t blockCount = 64;
        uint32_t pageSize = 256;
        uint8_t addressWidth = 3;
    };

    Fx2BlockFlash();
    Fx2BlockFlash(Geometry geometry, WriteFormat format);

    void entered() override;
    uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                     std::vector<uint8_t>* in) override;
    uint32_t bulkOut(const std::vector<uint8_t>& data) override;

    std::vector<uint8_t> contents(uint32_t address, uint32_t length) const;
    void setContents(uint32_t address, const std::vector<uint8_t>& data);
    // Block indices in the order they were erased.
    std::vector<uint32_t> erasedBlocks() const;
    // Writes taken since the flash was made.
    int writes() const;
    void setWriteFormat(WriteFormat format);
    // Where a stream write starts when the mode is entered.
    void setStreamStart(uint32_t address);
    // Ready polls that read 0 after an erase (-1: the erase never finishes) and after a
    // write.
    void setBusyPolls(int afterErase, int afterWrite);

private:
    bool addressFrom(const std::vector<uint8_t>& bytes, size_t offset, uint64_t* address) const;
    uint32_t program(uint64_t address, const uint8_t* data, size_t length);

    mutable std::mutex m_mutex;
    Geometry m_geometry;
    WriteFormat m_format;
    std::vector<uint8_t> m_flash;
    std::vector<uint32_t> m_erased;
    uint64_t m_pageAddress = 0;
    uint64_t m_streamAddress = 0;
    uint32_t m_streamStart = 0;
    int m_busy = 0;
    int m_writes = 0;
    int m_erasePolls = 2;
    int m_writePolls = 1;
};

} // namespace Sim
