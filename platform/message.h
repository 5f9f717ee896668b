#pragma once

#include <cstdint>
#include <vector>

namespace Platform {

// A window message as the device-change path delivers it: an id, a word parameter and
// the block the long parameter points to (a broadcast header and what follows it).
struct Message
{
    uint32_t message = 0;
    uintptr_t wParam = 0;
    std::vector<uint8_t> data;

    const void* lParam() const { return data.empty() ? nullptr : data.data(); }
};

constexpr uint32_t kWmDeviceChange = 0x219;

} // namespace Platform
