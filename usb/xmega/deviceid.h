#pragma once

#include <array>
#include <cstdint>
#include <string>

// The 16-byte unique id of an XMEGA unit. All bytes 0xFF means the unit has none.
struct DeviceId
{
    std::array<uint8_t, 16> bytes{};

    static DeviceId invalid();
    static DeviceId fromBytes(const uint8_t* data);

    bool isValid() const;
    // 32 lower-case hexadecimal digits.
    std::string toHex() const;

    bool operator<(const DeviceId& other) const;
    bool operator==(const DeviceId& other) const;
    bool operator!=(const DeviceId& other) const { return !(*this == other); }
};
