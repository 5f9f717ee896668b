#pragma once

#include "usb/fx2/swdhardwareaccess.h"

namespace CVN {
namespace USB {

// An ARM Cortex-M core behind the debug port: its debug registers and core registers.
class ArmCortexMHardwareAccess : public SwdHardwareAccess
{
public:
    explicit ArmCortexMHardwareAccess(AbstractUSBDevice* device);

    static constexpr uint32_t kDhcsr = 0xE000EDF0;
    static constexpr uint32_t kDcrsr = 0xE000EDF4;
    static constexpr uint32_t kDcrdr = 0xE000EDF8;
    static constexpr uint32_t kDemcr = 0xE000EDFC;
    static constexpr uint32_t kAircr = 0xE000ED0C;
    static constexpr uint32_t kDwtCtrl = 0xE0001000;
    // Comparator n: COMP at base + 16 n, MASK at + 4, FUNCTION at + 8.
    static constexpr uint32_t kDwtComparators = 0xE0001020;

    static constexpr uint32_t kDhcsrHalt = 0xA05F0003;
    static constexpr uint32_t kDhcsrRun = 0xA05F0001;
    static constexpr uint32_t kDhcsrStep = 0xA05F0005;
    static constexpr uint32_t kStatusHalted = 1u << 17;
    static constexpr uint32_t kStatusLockedUp = 1u << 19;
    static constexpr uint32_t kPollInterval = 5; // ms between halt polls

protected:
    // Through DCRDR and DCRSR.
    bool writeCoreRegister(uint8_t reg, uint32_t value);
    // Polls DHCSR for up to `milliseconds`: true once halted, false on lock-up or time-out.
    bool waitForHalt(uint32_t milliseconds);
};

} // namespace USB
} // namespace CVN
