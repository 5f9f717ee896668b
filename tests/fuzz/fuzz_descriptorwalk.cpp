// Walks every interface part of an arbitrary configuration descriptor and checks that each
// descriptor given lies whole inside the data.
#include "usb/driver/descriptorwalk.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t type = data[0];
    // An exact-size copy so reading one byte past the end is caught.
    std::vector<uint8_t> bytes(data + 1, data + size);
    auto* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    if (!bytes.empty())
        std::memcpy(copy, bytes.data(), bytes.size());
    CVN::USB::DescriptorWalk walk(copy, bytes.size());
    for (uint32_t interface = 0; interface < 8; ++interface) {
        int steps = 0;
        for (const uint8_t* d = walk.find(interface, nullptr, type); d;
             d = walk.find(interface, d, type)) {
            if (d < copy || d[0] < 2 || d + d[0] > copy + bytes.size())
                std::abort();
            if (++steps > 40000)
                std::abort();
        }
    }
    delete[] copy;
    return 0;
}
