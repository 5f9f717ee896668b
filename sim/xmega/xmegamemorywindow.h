#pragma once

#include "sim/xmega/xmegabootloader.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace Sim {

// The unit's memory window: a 64 KiB page selected by one request, read and written at an
// offset in it by two others, over a plain 16 MiB memory unless the unit maps its own.
class XmegaMemoryWindow
{
public:
    using Read = std::function<bool(uint32_t address, uint8_t* out, uint32_t size)>;
    using Write = std::function<bool(uint32_t address, const uint8_t* data, uint32_t size)>;
    // Installs the window's requests; reads and writes go through the unit's hooks.
    void install(const XmegaBootLoader::Install& app, Read read, Write write);

    // The plain memory behind the window.
    std::vector<uint8_t> memory(uint32_t address, uint32_t size) const;
    bool read(uint32_t address, uint8_t* out, uint32_t size) const;
    bool write(uint32_t address, const uint8_t* data, uint32_t size);

private:
    uint32_t address(uint16_t offset) const;

    mutable std::mutex m_mutex;
    uint16_t m_page = 0;
    std::vector<uint8_t> m_memory;
};

} // namespace Sim
