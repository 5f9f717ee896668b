#pragma once

#include <cstddef>
#include <cstdint>

// The DFU functional descriptor (type 0x21) of a DFU interface.
struct DfuFunctionalDescriptor
{
    static constexpr uint8_t kType = 0x21;
    static constexpr size_t kMinLength = 9;

    bool willDetach = false;            // bmAttributes bit 3
    bool manifestationTolerant = false; // bit 2
    bool canUpload = false;             // bit 1
    bool canDownload = false;           // bit 0
    uint16_t detachTimeoutMs = 0;
    uint16_t transferSize = 256;
    uint16_t dfuVersion = 0; // BCD

    // descriptor: its bLength bytes are readable. False when it is not a functional
    // descriptor of at least kMinLength bytes.
    static bool parse(const uint8_t* descriptor, DfuFunctionalDescriptor* out);
};
