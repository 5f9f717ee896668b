#pragma once

#include "sim/fx2/swdmemorybus.h"

#include <array>
#include <map>
#include <mutex>
#include <vector>

namespace Sim {

// An NXP LPC microcontroller (Cortex-M) as its debug port sees it: flash from address 0 in
// 4 KiB sectors, RAM at 0x10000000, the core's debug registers (DHCSR, DCRSR, DCRDR,
// DEMCR, AIRCR), the DWT with its comparators, and the boot ROM's in-application
// programming entry.
//
// What "running" does: after a reset caught by DEMCR the core halts at the reset vector;
// running it then runs the boot code, which writes the memory-remap register, and halts
// when a DWT comparator watches that write, else goes on into user code and never halts.
// Running it with PC at a RAM stub holding BLX R8; BKPT #0 and R8 at the IAP entry runs
// the IAP command at R0, writes the result block at R1 and halts at the breakpoint.
class LpcTarget : public SwdMemoryBus
{
public:
    static constexpr uint32_t kRamBase = 0x10000000;
    static constexpr uint32_t kSectorSize = 4096;
    static constexpr uint32_t kIapEntry = 0x1FFF1FF1;
    static constexpr uint32_t kStubCode = 0xBE0047C0;

    // IAP status codes.
    enum : uint32_t {
        kCmdSuccess = 0,
        kInvalidCommand = 1,
        kSrcAddrError = 2,
        kDstAddrError = 3,
        kSrcAddrNotMapped = 4,
        kDstAddrNotMapped = 5,
        kCountError = 6,
        kInvalidSector = 7,
        kSectorNotPrepared = 9,
        kCompareError = 10,
    };

    explicit LpcTarget(uint32_t sectors = 8, uint32_t ramSize = 8192);

    bool read32(uint32_t address, uint32_t* value) override;
    bool write32(uint32_t address, uint32_t value) override;

    std::vector<uint8_t> flash() const;
    void setFlash(uint32_t address, const std::vector<uint8_t>& data);
    bool halted() const;
    // IAP commands run, in order (their first word).
    std::vector<uint32_t> iapCommands() const;
    int resets() const;

    // Knobs.
    void setComparators(uint32_t count);
    // The remap register the boot code writes (0x40048000 or 0x400FC040).
    void setRemapRegister(uint32_t address);
    // Every call of this IAP command reports `status` without doing anything.
    void forceIapStatus(uint32_t command, uint32_t status);
    // A running core never halts again.
    void setNeverHalts(bool never);
    // DHCSR reads that still show the core running after it would halt.
    void setHaltDelayReads(int reads);
    void setLockUpOnRun(bool lockUp);

private:
    void run();
    void haltNow();
    void runIap();
    uint32_t iap(const std::array<uint32_t, 5>& command, std::array<uint32_t, 5>* result);
    bool ramWord(uint32_t address, uint32_t* value) const;
    bool inRam(uint32_t address, uint32_t length) const;
    bool inFlash(uint32_t address, uint32_t length) const;
    bool sectorsPrepared(uint32_t first, uint32_t last) const;
    // COMP, MASK or FUNCTION of a DWT comparator, or null.
    uint32_t* comparatorField(uint32_t address);

    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_flash;
    std::vector<uint8_t> m_ram;
    std::vector<bool> m_prepared;
    std::array<uint32_t, 21> m_core{};
    uint32_t m_dcrdr = 0;
    uint32_t m_demcr = 0;
    bool m_halted = false;
    bool m_lockedUp = false;
    bool m_debugEnabled = false;
    int m_haltIn = 0;
    uint32_t m_comparatorCount = 4;
    std::array<std::array<uint32_t, 3>, 4> m_comparators{};
    uint32_t m_reservedWord = 0;
    uint32_t m_remapRegister = 0x40048000;
    std::map<uint32_t, uint32_t> m_forcedStatus;
    bool m_neverHalts = false;
    int m_haltDelayReads = 0;
    bool m_lockUpOnRun = false;
    std::vector<uint32_t> m_iapCommands;
    int m_resets = 0;
};

} // namespace Sim
