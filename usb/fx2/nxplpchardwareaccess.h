#pragma once

#include "usb/fx2/armcortexmhardwareaccess.h"

namespace CVN {
namespace USB {

// An NXP LPC microcontroller whose flash is erased, written and compared by calling its
// boot ROM's in-application programming (IAP) entry from a stub in the target's RAM.
class NxpLpcHardwareAccess : public ArmCortexMHardwareAccess
{
public:
    explicit NxpLpcHardwareAccess(AbstractUSBDevice* device);

    uint32_t pageSize() override;
    bool eraseFlash(uint32_t length) override;
    bool beginProgramming(uint32_t length) override;
    bool writePage(const uint8_t* data, uint32_t length) override;
    bool endProgramming() override;
    bool beginVerify() override;
    bool verifyPage(const uint8_t* data, uint32_t flashAddress, uint32_t length) override;
    bool endVerify() override;

    bool isProgramming() const { return m_programming; }
    uint32_t nextFlashAddress() const { return m_nextFlashAddress; }

    // Target RAM layout.
    static constexpr uint32_t kRamBase = 0x10000000;
    static constexpr uint32_t kCallStub = 0x10000000;
    static constexpr uint32_t kCallStubCode = 0xBE0047C0; // BLX R8; BKPT #0
    static constexpr uint32_t kPageBuffer = 0x10000010;
    static constexpr uint32_t kCommandBlock = 0x10000210;
    static constexpr uint32_t kResultBlock = 0x10000224;
    static constexpr uint32_t kStackBase = 0x10000264;
    static constexpr uint32_t kStackPointer = kStackBase + 1024;

    static constexpr uint32_t kPageSize = 512;
    static constexpr uint32_t kSectorSize = 4096;
    static constexpr uint32_t kMaxSectors = 8;
    static constexpr uint32_t kIapEntry = 0x1FFF1FF1;
    static constexpr uint32_t kCoreClockKHz = 12000;

    // The boot code of either LPC family served writes its memory-remap register early:
    // a watchpoint on both halts the core before user code runs.
    static constexpr uint32_t kRemapRegisterA = 0x40048000;
    static constexpr uint32_t kRemapRegisterB = 0x400FC040;

    enum IapCommand : uint32_t {
        kIapPrepare = 50,
        kIapCopyRamToFlash = 51,
        kIapErase = 52,
        kIapCompare = 56,
    };

    static constexpr uint32_t kBootHaltTimeout = 2000; // ms
    static constexpr uint32_t kIapTimeout = 5000;      // ms

private:
    // Resets the core and stops it once the boot code is done, before user code runs.
    bool haltAfterBoot();
    // Runs one IAP command; true when every access went through, the status in result[0].
    bool callIap(const uint32_t (&command)[5], uint32_t (&result)[5]);
    bool iapSucceeds(const uint32_t (&command)[5]);
    bool erase(uint32_t length);
    bool loadPageBuffer(const uint8_t* data, uint32_t length);

    bool m_programming = false;
    uint32_t m_nextFlashAddress = 0;
};

} // namespace USB
} // namespace CVN
