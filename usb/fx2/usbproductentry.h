#pragma once

#include <cstdint>

namespace CVN {
namespace USB {

class AbstractUSBDevice;
class IUSBDevice;

// One supported product of an FX2-based family, in a constant table of the product's
// plug-in: how to make its device object and the RAM firmware its controller needs.
struct USBProductEntry
{
    // Makes a device object with a reference count of 1 (it takes its own reference on
    // the USB device).
    using Factory = AbstractUSBDevice* (*)(IUSBDevice* device, const USBProductEntry* entry);

    uint64_t productId = 0;
    Factory factory = nullptr;
    const uint8_t* firmware = nullptr;
    uint64_t firmwareLength = 0;
};

} // namespace USB
} // namespace CVN
