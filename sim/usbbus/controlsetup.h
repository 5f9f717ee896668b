#pragma once

#include <cstdint>

namespace Sim {

// The setup stage of a control request as the device sees it.
struct ControlSetup
{
    uint8_t requestType = 0; // bmRequestType
    uint8_t request = 0;     // bRequest
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    bool isIn() const { return requestType & 0x80; }
    // 0 standard, 1 class, 2 vendor.
    uint8_t type() const { return (requestType >> 5) & 3; }
    // 0 device, 1 interface, 2 endpoint.
    uint8_t recipient() const { return requestType & 0x1f; }
};

} // namespace Sim
