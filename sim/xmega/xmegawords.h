#pragma once

#include "platform/bytewriter.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace Sim {

// Little-endian 32-bit words as the unit's replies carry them.
inline std::vector<uint8_t> xmegaWords(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes(values.size() * 4, 0);
    Platform::ByteWriter w(bytes.data(), bytes.size());
    size_t at = 0;
    for (uint32_t v : values) {
        w.u32(at, v);
        at += 4;
    }
    return bytes;
}

} // namespace Sim
