#pragma once

#include <cstdint>

namespace CVN {
namespace USB {

// Which interfaces an iterator visits; kAny matches every value.
struct FindInterfaceRequest
{
    static constexpr uint16_t kAny = 0xFFFF;

    uint16_t bInterfaceClass = kAny;
    uint16_t bInterfaceSubClass = kAny;
    uint16_t bInterfaceProtocol = kAny;
    uint16_t bAlternateSetting = kAny;
};

} // namespace USB
} // namespace CVN
