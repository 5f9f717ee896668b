#pragma once

#include "sim/fx2/fx2peripheral.h"
#include "sim/usbbus/simpleusbdevice.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Sim {

// A Cypress FX2 controller as the host's device base sees it:
// - 8051 RAM written by request 0xA0; CPUCS (0xE600) = 1 holds the CPU, 0 lets it run. A
//   CPU let run after a RAM load re-enumerates with its running device release.
// - Before its firmware runs it reports device release 0x0001 (only the boot EEPROM's
//   identity header booted).
// - The boot EEPROM (0xD3 write, 0xD4 read), the firmware's register file (0xD6, 0xD7),
//   the single bytes of 0xD5 and 0xE1, the data-path selection (0xD2).
// - The hardware-access mode (0xDB with a mode value, 0xDC to leave): while entered, the
//   peripheral attached under that mode value answers the remaining vendor requests and
//   takes the bulk data. Register 0 reads 0 after a leave until the controller is back.
//
// Product models derive from it: vendorRequest(), registerWritten(), registerRead() and
// dataBulkOut() are the hooks. Thread-safe.
class Fx2Device : public SimpleUsbDevice
{
public:
    static constexpr uint16_t kBootRelease = 0x0001;
    static constexpr uint16_t kRunningRelease = 0x0100;
    static constexpr uint8_t kDataOut = 0x02; // bulk OUT, pipe 1 of interface 0
    static constexpr uint8_t kDataIn = 0x86;  // bulk IN, pipe 2 of interface 0

    // firmwareRunning: whether it comes up with its RAM firmware already running.
    Fx2Device(uint16_t vendorId, uint16_t productId, bool firmwareRunning = true,
              size_t eepromSize = 16384);

    DeviceIdentity identity() const override;
    void control(const TransferPtr& transfer) override;

    void attachPeripheral(uint8_t modeValue, std::shared_ptr<Fx2Peripheral> peripheral);

    // State, for tests.
    std::vector<uint8_t> ram(uint16_t address, size_t length) const;
    bool cpuHeld() const;
    bool firmwareRunning() const;
    // Every RAM write in order (CPUCS included), kept across re-enumeration.
    struct RamWrite
    {
        uint16_t address;
        std::vector<uint8_t> data;
    };
    std::vector<RamWrite> ramWrites() const;
    // RAM writes (other than CPUCS) that arrived while the CPU was not held.
    int ramWritesWhileRunning() const;
    std::vector<uint8_t> eeprom() const;
    void setEeprom(std::vector<uint8_t> contents);
    uint8_t registerValue(uint8_t reg) const;
    void setRegister(uint8_t reg, uint8_t value);
    bool inHardwareAccess() const;
    int hardwareAccessMode() const; // -1 when not entered
    std::vector<std::array<uint8_t, 2>> dataPathSelections() const;

    // Knobs.
    // The next `count` requests with this bRequest stall.
    void stallRequests(uint8_t request, int count);
    // Writes to this EEPROM address are taken but do not stick.
    void setStuckEepromByte(int address);
    // Register 0 reads 0 for this many reads after a leave (-1: the controller never comes
    // back), then 1.
    void setRestartReads(int reads);
    void setVendorBytes(uint8_t d5, uint8_t e1);
    // Whether letting the CPU run after a RAM load re-enumerates the device (default yes).
    void setReenumerateOnRun(bool reenumerate);

protected:
    // Every vendor request; gives a Usbd status or kNoReply.
    virtual uint32_t vendorRequest(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                   std::vector<uint8_t>* in);
    virtual void registerWritten(uint8_t reg, uint8_t value) {}
    virtual uint8_t registerRead(uint8_t reg);
    // Bulk OUT data outside the hardware-access mode.
    virtual uint32_t dataBulkOut(const std::vector<uint8_t>& data);

    std::shared_ptr<Fx2Peripheral> activePeripheral() const;

    mutable std::mutex m_stateMutex;

private:
    uint32_t writeRam(uint16_t address, const std::vector<uint8_t>& data);
    uint32_t bulkOut(const std::vector<uint8_t>& data);

    bool m_firmwareRunning;
    std::vector<uint8_t> m_ram;
    bool m_cpuHeld = false;
    bool m_ramLoaded = false;
    int m_ramWritesWhileRunning = 0;
    std::vector<RamWrite> m_ramWrites;
    bool m_reenumerateOnRun = true;
    std::vector<uint8_t> m_eeprom;
    int m_stuckEepromByte = -1;
    std::array<uint8_t, 256> m_registers{};
    uint8_t m_vendorD5 = 1;
    uint8_t m_vendorE1 = 0;
    int m_restartReads = 2;
    int m_zeroReadsLeft = 0;
    int m_mode = -1;
    std::map<uint8_t, std::shared_ptr<Fx2Peripheral>> m_peripherals;
    std::map<uint8_t, int> m_stalls;
    std::vector<std::array<uint8_t, 2>> m_dataPaths;
};

} // namespace Sim
