#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the key/value interface of a recorder sends back.
class UsbQueryReply
{
public:
    static constexpr uint8_t kDescriptorType = 0x21;
    static constexpr size_t kMinDescriptorLength = 10;

    // The capability word (bytes 2-5) of the interface's class descriptor, whose bLength
    // bytes are readable. False when the descriptor is shorter than kMinDescriptorLength.
    static bool capabilities(const uint8_t* descriptor, uint32_t* out);

    // A value reply: the text up to the first NUL within the bytes that arrived.
    static std::string value(const uint8_t* reply, size_t transferred);

    // A query handle (u16, little-endian); false when fewer than two bytes arrived.
    static bool handle(const uint8_t* reply, size_t transferred, uint16_t* out);
};
