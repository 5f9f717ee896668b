#pragma once

#include <cstdint>

namespace CVN {
namespace AbstractUSB {

// One pipe of an interface as the transports see it.
struct USBPipe
{
    uint8_t pipe = 0;       // index from 1
    uint32_t direction = 0; // 0 out (host to device), 1 in
    uint16_t maxPacketSize = 0;
    bool bulk = false;
};

} // namespace AbstractUSB
} // namespace CVN
