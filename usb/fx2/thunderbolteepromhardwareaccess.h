#pragma once

#include <cstdint>

namespace CVN {
namespace USB {

// The serial EEPROM behind the FX2 controller that holds the Thunderbolt controller's image.
class ThunderboltEEPROMHardwareAccess
{
public:
    virtual ~ThunderboltEEPROMHardwareAccess() = default;
    virtual uint32_t pageSize() = 0;
    virtual bool beginAccess() = 0;
    // Writes sequentially from the write address that beginAccess set to 0.
    virtual bool write(const uint8_t* data, uint32_t length) = 0;
    virtual bool endAccess() = 0;
    virtual bool read(uint32_t address, uint8_t* buffer, uint32_t length) = 0;
    virtual bool waitReady(uint32_t tries, uint32_t intervalMs) = 0;
};

} // namespace USB
} // namespace CVN
