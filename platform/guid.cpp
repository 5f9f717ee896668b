#include "platform/guid.h"

#include <cstring>

namespace Platform {

void Guid::toBytes(uint8_t* out) const
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(data1 >> (8 * i));
    out[4] = uint8_t(data2);
    out[5] = uint8_t(data2 >> 8);
    out[6] = uint8_t(data3);
    out[7] = uint8_t(data3 >> 8);
    std::memcpy(out + 8, data4, 8);
}

Guid Guid::fromBytes(const uint8_t* in)
{
    Guid g;
    g.data1 =
        uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
    g.data2 = uint16_t(in[4] | in[5] << 8);
    g.data3 = uint16_t(in[6] | in[7] << 8);
    std::memcpy(g.data4, in + 8, 8);
    return g;
}

bool Guid::operator==(const Guid& other) const
{
    return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 &&
           std::memcmp(data4, other.data4, 8) == 0;
}

} // namespace Platform
