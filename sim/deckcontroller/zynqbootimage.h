#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Sim {

// Processor images as the deck controller's boot ROM sees them: a Zynq-7000 boot header at
// the start (identification word "XNLX" at 0x24, header checksum at 0x48 over words 0x20 to
// 0x44), then the image.
class ZynqBootImage
{
public:
    // An image of size bytes (at least the header's 76) with a valid header and a body made
    // from seed.
    static std::vector<uint8_t> make(size_t size, uint32_t seed);
    // Whether the bytes start with a header the boot ROM accepts.
    static bool bootable(const uint8_t* bytes, size_t size);
};

} // namespace Sim
