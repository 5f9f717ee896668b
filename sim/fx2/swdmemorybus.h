#pragma once

#include <cstdint>

namespace Sim {

// The target's memory as a memory access port sees it: 32-bit accesses that fail on an
// address nothing answers (a bus fault).
class SwdMemoryBus
{
public:
    virtual ~SwdMemoryBus() = default;
    virtual bool read32(uint32_t address, uint32_t* value) = 0;
    virtual bool write32(uint32_t address, uint32_t value) = 0;
};

} // namespace Sim
