#pragma once

#include "usb/xmega/streamingxmegausbdevice.h"
#include "usb/xmega/xmegausbnotifiertemplate.h"

#include <cstdint>

namespace CVN {
namespace DiskRecorder {

// The USB side of the streaming recorder notifier: 0xC3E4 and 0xBE0F, and 0xC386, the id any
// XMEGA unit has while it runs its boot loader. A unit in its boot loader is made all the
// same, so that its recorder object follows it through a firmware update.
class XmegaStreamingNotifier : public XmegaUSBNotifierTemplate<StreamingXmegaUSBDevice>
{
public:
    static constexpr std::uint16_t kVendorId = 0x2C4A;
    static constexpr std::uint16_t kProductIds[] = {0xC3E4, 0xBE0F};
    static constexpr std::uint16_t kBootloaderProductId = 0xC386;

    XmegaStreamingNotifier();

    static Factory anyModeFactory();

protected:
    void addWatchRows() override;
};

} // namespace DiskRecorder
} // namespace CVN
