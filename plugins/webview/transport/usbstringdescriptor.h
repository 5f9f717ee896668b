#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A USB string descriptor: bLength, type 3, UTF-16LE code units.
class UsbStringDescriptor
{
public:
    // The text of a descriptor of which transferred bytes arrived: (bLength - 2) / 2 code
    // units from offset 2, never past what arrived. Empty when bLength, or what arrived, is
    // below 2.
    static std::wstring decode(const uint8_t* reply, size_t transferred);
};
