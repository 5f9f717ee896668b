#include "usb/fx2/armcortexmhardwareaccess.h"

#include "usb/fx2/abstractusbdevice.h"

namespace CVN {
namespace USB {

ArmCortexMHardwareAccess::ArmCortexMHardwareAccess(AbstractUSBDevice* device)
    : SwdHardwareAccess(device)
{
}

bool ArmCortexMHardwareAccess::writeCoreRegister(uint8_t reg, uint32_t value)
{
    return memoryWrite(kDcrdr, value) && memoryWrite(kDcrsr, reg | 0x10000u);
}

bool ArmCortexMHardwareAccess::waitForHalt(uint32_t milliseconds)
{
    const uint32_t polls = (milliseconds + 4) / kPollInterval;
    for (uint32_t i = 0; i < polls; ++i) {
        uint32_t status = 0;
        if (!memoryRead(kDhcsr, &status))
            return false;
        if (status & kStatusLockedUp)
            return false;
        if (status & kStatusHalted)
            return true;
        device()->clock().sleep(kPollInterval);
    }
    return false;
}

} // namespace USB
} // namespace CVN
