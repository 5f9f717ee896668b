#pragma once

#include <cstddef>
#include <cstdint>

namespace Platform {

// A class identifier, stored in memory the way the driver's headers lay it out:
// data1 to data3 little-endian, then data4 as it stands.
struct Guid
{
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    static constexpr size_t kSize = 16;

    void toBytes(uint8_t* out) const;
    static Guid fromBytes(const uint8_t* in);

    bool operator==(const Guid& other) const;
    bool operator!=(const Guid& other) const { return !(*this == other); }
};

} // namespace Platform
