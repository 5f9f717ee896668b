#pragma once

#include "usb/xmega/xmegausbdevice.h"
#include "usb/xmega/xmegausbnotifiertemplate.h"

#include <cstdint>

namespace CVN {
namespace DiskRecorder {

// The USB side of the XMEGA mailbox recorder notifier: the 0xC3A6 recorder, and 0xC386,
// the id any XMEGA unit has while it runs its boot loader.
class DiskRecorderXmegaNotifier : public XmegaUSBNotifierTemplate<XmegaUSBDevice>
{
public:
    static constexpr std::uint16_t kVendorId = 0x2C4A;
    static constexpr std::uint16_t kProductId = 0xC3A6;
    static constexpr std::uint16_t kBootloaderProductId = 0xC386;

    DiskRecorderXmegaNotifier();

protected:
    void addWatchRows() override;
};

} // namespace DiskRecorder
} // namespace CVN
