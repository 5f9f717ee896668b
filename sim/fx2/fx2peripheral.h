#pragma once

#include "sim/usbbus/controlsetup.h"
#include "sim/usbbus/usbdstatus.h"

#include <cstdint>
#include <vector>

namespace Sim {

// Something behind the FX2 controller that the host reaches in the controller's
// hardware-access mode: the controller hands it the vendor requests and the bulk data of
// its data pipe while the mode is entered with the peripheral's mode value.
class Fx2Peripheral
{
public:
    // The FX2 firmware's request numbers (bRequest), shared by the controller and the parts
    // behind it; named here apart from the host's own headers so that the simulation stays an
    // independent check on them.
    enum Request : uint8_t {
        RamWrite = 0xA0,
        SwdWrite = 0xC0,
        SwdRead = 0xC1,
        SpiRead = 0xCF,
        DataPath = 0xD2,
        BootEepromWrite = 0xD3,
        BootEepromRead = 0xD4,
        VendorByteD5 = 0xD5,
        RegisterRead = 0xD6,
        RegisterWrite = 0xD7,
        EnterHardwareAccess = 0xDB,
        LeaveHardwareAccess = 0xDC,
        WriteAddress = 0xDE,
        ReadyByte = 0xDF,
        BlockErase = 0xE0,
        VendorByteE1 = 0xE1,
    };

    // Returned by control() for a request the peripheral does not know: the request stalls.
    static constexpr uint32_t kNotHandled = 0xFFFFFFFEu;

    virtual ~Fx2Peripheral() = default;

    virtual void entered() {}
    virtual void left() {}
    // A vendor request; gives a Usbd status, or kNotHandled.
    virtual uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                             std::vector<uint8_t>* in) = 0;
    // One transfer on the controller's bulk data pipe; gives a Usbd status.
    virtual uint32_t bulkOut(const std::vector<uint8_t>& data) = 0;

protected:
    // Answers a ready-byte request (IN, one byte): 0 while *busy polls remain (counting
    // down; a negative count stays busy), then 1.
    static uint32_t readyByte(const ControlSetup& setup, int* busy, std::vector<uint8_t>* in)
    {
        if (!setup.isIn() || setup.length != 1)
            return Usbd::kStall;
        const bool ready = *busy == 0;
        if (*busy > 0)
            --*busy;
        *in = {uint8_t(ready ? 1 : 0)};
        return Usbd::kSuccess;
    }
};

} // namespace Sim
