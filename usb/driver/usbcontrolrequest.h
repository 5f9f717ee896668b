#pragma once

#include <cstdint>

namespace CVN {
namespace USB {

// A control request on the default pipe, filled by the caller. wLength bytes are read from
// or written to data.
struct UsbControlRequest
{
    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
    void* data = nullptr;
    // Set to wLength when the transfer succeeds.
    uint32_t transferred = 0;
    uint32_t timeout = 0;  // ms
    uint32_t timeout2 = 0; // ms
};

} // namespace USB
} // namespace CVN
