#pragma once

#include <cstdint>

namespace CVN {
namespace USB {

class AbstractUSBDevice;
class IUSBDevice;

// A microcontroller whose flash is written over Serial Wire Debug, with the FX2 controller
// bridging the debug port's and access port's registers through vendor requests. This
// level gives the register transport and the connect; subclasses know the core and the
// flash.
class SwdHardwareAccess
{
public:
    // The device is not owned; one reference on its USB device is held.
    explicit SwdHardwareAccess(AbstractUSBDevice* device);
    virtual ~SwdHardwareAccess();
    virtual uint32_t pageSize() = 0;
    // Length 0 means the whole flash.
    virtual bool eraseFlash(uint32_t length) = 0;
    virtual bool beginProgramming(uint32_t length) = 0;
    virtual bool writePage(const uint8_t* data, uint32_t length) = 0;
    virtual bool endProgramming() = 0;
    virtual bool beginVerify() = 0;
    virtual bool verifyPage(const uint8_t* data, uint32_t flashAddress, uint32_t length) = 0;
    virtual bool endVerify() = 0;

    // Debug port register addresses.
    enum : uint8_t {
        kDpIdcode = 0x0, // read
        kDpAbort = 0x0,  // write
        kDpCtrlStat = 0x4,
        kDpSelect = 0x8,
        kDpRdbuff = 0xC,
    };
    // Memory access port register addresses.
    enum : uint8_t {
        kApCsw = 0x00,
        kApTar = 0x04,
        kApDrw = 0x0C,
        kApIdr = 0xFC,
    };
    static constexpr uint32_t kPowerUpRequest = 0x50000000;
    static constexpr uint32_t kPowerUpAcknowledge = 0xA0000000;
    static constexpr int kPowerUpReads = 101;

    SwdHardwareAccess(const SwdHardwareAccess&) = delete;
    SwdHardwareAccess& operator=(const SwdHardwareAccess&) = delete;

protected:
    AbstractUSBDevice* device() const { return m_device; }

    bool dpRead(uint8_t reg, uint32_t* value);
    bool dpWrite(uint8_t reg, uint32_t value);
    // Access port registers of port `ap`; a failure runs the error recovery.
    bool apRead(uint8_t ap, uint8_t reg, uint32_t* value);
    bool apWrite(uint8_t ap, uint8_t reg, uint32_t value);
    bool memoryRead(uint32_t address, uint32_t* value);
    bool memoryWrite(uint32_t address, uint32_t value);
    // Clears the sticky error flags after a failed access port access.
    void recoverFromError();

    // Enters the hardware-access mode and powers up the debug port and access port 0.
    bool connect();

private:
    bool transfer(bool read, bool accessPort, uint8_t reg, uint32_t* value);
    bool apAccess(bool read, uint8_t ap, uint8_t reg, uint32_t* value);

    AbstractUSBDevice* m_device;
    IUSBDevice* m_usb;
};

} // namespace USB
} // namespace CVN
