#pragma once

#include "usb/fx2/thunderbolteepromhardwareaccess.h"

namespace CVN {
namespace USB {

class AbstractUSBDevice;
class IUSBDevice;

// An AT25 SPI EEPROM reached through the controller's hardware-access mode: addresses by
// vendor request, data in 32-byte pages on the bulk data pipe.
class AtmelAT25HardwareAccess : public ThunderboltEEPROMHardwareAccess
{
public:
    // The device is not owned; one reference on its USB device is held.
    explicit AtmelAT25HardwareAccess(AbstractUSBDevice* device);
    ~AtmelAT25HardwareAccess() override;

    uint32_t pageSize() override;
    bool beginAccess() override;
    bool write(const uint8_t* data, uint32_t length) override;
    bool endAccess() override;
    // At most 255 bytes per read.
    bool read(uint32_t address, uint8_t* buffer, uint32_t length) override;
    bool waitReady(uint32_t tries, uint32_t intervalMs) override;

    bool isOpen() const { return m_open; }
    uint32_t writeAddress() const { return m_writeAddress; }

    static constexpr uint32_t kPageSize = 32;
    // Pause after entering the access mode, before the chip is used.
    static constexpr uint32_t kAccessSettleMs = 500;
    static constexpr uint32_t kMaxRead = 255;
    // What the 16-bit address of a write reaches.
    static constexpr uint32_t kAddressSpace = 0x10000;

    AtmelAT25HardwareAccess(const AtmelAT25HardwareAccess&) = delete;
    AtmelAT25HardwareAccess& operator=(const AtmelAT25HardwareAccess&) = delete;

private:
    AbstractUSBDevice* m_device;
    IUSBDevice* m_usb;
    bool m_open = false;
    uint32_t m_writeAddress = 0;
};

} // namespace USB
} // namespace CVN
