#pragma once

#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/waitclock.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace CVN {
namespace USB {

class IUSBDevice;
class IUSBInterface;
struct USBProductEntry;

// A device built around a Cypress FX2 controller: its vendor requests on the default pipe,
// the 8051 RAM loader, the boot EEPROM, the controller firmware's register file and the
// flash behind the controller, written through the hardware-access mode and the bulk data
// pipe. Product classes override the hooks to pick the flash geometry and methods.
//
// Reference counted: made with a count of 1, the last Release destroys it.
class AbstractUSBDevice
{
public:
    AbstractUSBDevice(IUSBDevice* device, const USBProductEntry* entry);

    virtual bool open();
    virtual ~AbstractUSBDevice();
    virtual uint32_t AddRef();
    virtual uint32_t Release();
    virtual bool readVendorByteE1(uint8_t* value);
    virtual bool readVendorByteD5(uint8_t* value);
    virtual bool unsupportedProperty8();
    virtual bool unsupportedProperty11();
    virtual bool readRegister0(uint8_t* value);
    virtual bool productId(uint16_t* value);
    virtual bool vendorId(uint16_t* value);
    virtual bool wordProperty828(uint16_t* value);
    virtual bool readRegister(uint8_t reg, uint8_t* value);
    virtual bool writeRegister(uint8_t reg, uint8_t value);
    virtual bool notSupported14();
    virtual bool notSupported15();
    virtual bool readRegister1(uint8_t* value);
    virtual bool beginFlashUpdate(uint32_t startAddress, uint32_t length);
    virtual bool writeFlashData(const uint8_t* data, uint32_t length);
    virtual bool endFlashUpdate(bool waitForRestart);
    virtual bool enterHardwareAccess(uint32_t startAddress);
    virtual bool leaveHardwareAccess();
    virtual bool setHardwareTarget(uint8_t target);
    virtual bool hardwareTarget(uint8_t* target);
    virtual bool programBootEeprom();
    virtual bool clearBootHeader();
    virtual bool selectDataPath(uint8_t path, uint8_t mode);
    virtual bool writeBulkData(const uint8_t* data, uint32_t length);
    virtual void* reserved28();
    virtual void* reserved29();
    virtual void* reserved30();
    virtual void* reserved31();
    virtual bool resetDevice();
    virtual bool openDevice();
    virtual bool openDataInterface();
    virtual bool needsRamFirmware(bool* needed);
    virtual bool loadRamFirmware();
    virtual bool writeRam(uint16_t address, uint16_t length, const uint8_t* data, int32_t attempts);
    virtual bool readEepromByte(uint16_t address, uint8_t* value);
    virtual bool writeEepromByte(uint16_t address, uint8_t value);
    // 0 erase the range, 1 wait until ready, 2 nothing.
    virtual uint32_t eraseMethod() = 0;
    // 0 paged, 1 address inline, 2 plain stream.
    virtual uint32_t writeMethod() = 0;
    // 0 the 0xC0 identity header, 1 the 0xC2 firmware image.
    virtual uint32_t bootEepromFormat();
    virtual bool bootConfigDisconnect();
    virtual uint32_t flashPageSize();
    virtual uint32_t flashBlockCount();
    virtual uint32_t flashBlockSize();
    virtual uint8_t flashAddressWidth();
    virtual bool eraseFlashRange(uint32_t start, uint32_t length);
    virtual bool waitFlashReady();
    virtual bool writeFlashPaged(const uint8_t* data, uint32_t length);
    virtual bool writeFlashInline(const uint8_t* data, uint32_t length);
    virtual bool writeFlashStream(const uint8_t* data, uint32_t length);
    virtual bool writeBootImage();
    virtual bool writeBootHeader(uint8_t* buffer, uint32_t length);
    // The wIndex of the enter request for the current hardware target.
    virtual bool hardwareAccessModeValue(uint8_t* value);
    virtual bool sendEnterHardwareAccess(uint8_t value);
    virtual bool sendLeaveHardwareAccess();

    bool eraseFlashBlock(uint32_t block);
    bool writeEepromByteVerified(uint16_t address, uint8_t value);
    // The clock of every pause and poll; tests hand in one whose pauses only add up.
    void setClock(std::shared_ptr<WaitClock> clock);
    WaitClock& clock() const { return *m_clock; }

    // The USB device (no reference given), or null once the device was given up.
    IUSBDevice* usbDevice() const { return m_device; }
    bool hardwareAccessActive() const { return m_hardwareAccess != 0; }
    uint32_t nextWriteAddress() const { return m_nextWriteAddress; }
    const USBProductEntry* productEntry() const { return m_entry; }

    static constexpr uint32_t kRequestTimeout = 1000;
    static constexpr uint32_t kBulkTimeout = 5000;
    static constexpr uint16_t kCpucs = 0xE600;
    static constexpr uint32_t kStreamPiece = 16384;
    // Pauses after a register write, a boot EEPROM byte, and after a stream write or leaving
    // the hardware-access mode.
    static constexpr uint32_t kRegisterWritePauseMs = 5;
    static constexpr uint32_t kEepromWritePauseMs = 10;
    static constexpr uint32_t kSettleMs = 1000;
    // Ready polls (request 0xDF): after a block erase (tried kEraseAttempts times), in
    // waitFlashReady, after each page of a paged write and each piece of an inline write.
    static constexpr uint32_t kEraseReadyLimitMs = 6000;
    static constexpr uint32_t kEraseReadyPollMs = 100;
    static constexpr int kEraseAttempts = 2;
    static constexpr uint32_t kFlashReadyLimitMs = 60000;
    static constexpr uint32_t kFlashReadyPollMs = 500;
    static constexpr uint32_t kPagedWriteReadyLimitMs = 20;
    static constexpr uint32_t kPagedWriteReadyPollMs = 1;
    static constexpr uint32_t kInlineWriteReadyLimitMs = 600;
    static constexpr uint32_t kInlineWriteReadyPollMs = 3;
    // Register 0 polls while the controller restarts after leaving the hardware-access mode.
    static constexpr uint32_t kRestartLimitMs = 10000;
    static constexpr uint32_t kRestartPollMs = 100;

protected:
    // The data interface (no reference given) and its bulk host-to-device pipe.
    IUSBInterface* dataInterface() const { return m_interface; }
    uint8_t dataPipe() const { return m_dataPipe; }
    bool vendorIn(uint8_t request, uint16_t value, uint16_t index, void* data, uint16_t length);
    bool vendorOut(uint8_t request, uint16_t value, uint16_t index, const void* data,
                   uint16_t length);
    // Request 0xDF: non-zero when the flash is ready.
    bool readFlashReady(uint8_t* ready);
    // A flash address request (0xDE, 0xE0) with the address in `width` bytes, high first.
    bool sendFlashAddress(uint8_t request, uint64_t address, uint8_t width);

private:
    bool giveUp();
    void releaseInterface();
    // Reads of the ready byte, each after a pause, for up to limitMs: true at the first
    // non-zero one, false on a failed read or when all read 0.
    bool pollFlashReady(uint32_t limitMs, uint32_t intervalMs);
    // Block erase at `address` with its ready polls, kEraseAttempts times.
    bool eraseBlockAt(uint64_t address, uint8_t width);

    uint8_t m_hardwareAccess = 0;
    uint32_t m_nextWriteAddress = 0;
    const USBProductEntry* m_entry;
    IUSBDevice* m_device;
    IUSBInterface* m_interface = nullptr;
    uint8_t m_dataPipe = 0;
    uint8_t m_dataPathCache[2] = {0xFF, 0xFF};
    uint8_t m_hardwareTarget = 0;
    std::atomic<uint32_t> m_refs{1};
    uint8_t m_deviceOpened = 0;
    uint8_t m_reenteringDataInterface = 0;
    std::shared_ptr<WaitClock> m_clock = WaitClock::system();
};

} // namespace USB
} // namespace CVN
