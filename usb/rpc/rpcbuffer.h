#pragma once

#include <cstdint>

namespace VornOSRPC {

// One variable-length buffer of a call: sent to the unit (input), filled by it (output).
struct RpcBuffer
{
    bool input = false;
    bool output = false;
    uint8_t* data = nullptr;
    uint64_t size = 0;
};

} // namespace VornOSRPC
