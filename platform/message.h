#pragma once

#include <cstdint>
#include <vector>

namespace Platform {

// A window message as the device-change path delivers it: an id, a word parameter and
// the block the long parameter points to (a broadcast header and what follows it).
// Messages whose long parameter is a plain word (a pointer value, say) carry it in
// lParamValue and leave the block empty.
struct Message
{
    uint32_t message = 0;
    uintptr_t wParam = 0;
    std::vector<uint8_t> data;
    uintptr_t lParamValue = 0;

    const void* lParam() const { return data.empty() ? nullptr : data.data(); }
};

constexpr uint32_t kWmDeviceChange = 0x219;

// Event codes of a device-change message.
constexpr uintptr_t kDbtDeviceArrival = 0x8000;
constexpr uintptr_t kDbtDeviceQueryRemove = 0x8001;
constexpr uintptr_t kDbtDeviceQueryRemoveFailed = 0x8002;
constexpr uintptr_t kDbtDeviceRemovePending = 0x8003;
constexpr uintptr_t kDbtDeviceRemoveComplete = 0x8004;

} // namespace Platform
