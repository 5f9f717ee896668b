#include "plugins/recorder/xmegastreamingnotifier.h"

namespace CVN {
namespace DiskRecorder {

XmegaStreamingNotifier::XmegaStreamingNotifier()
{
    for (std::uint16_t productId : kProductIds)
        addWatchRow(kVendorId, productId, anyModeFactory());
}

XmegaStreamingNotifier::Factory XmegaStreamingNotifier::anyModeFactory()
{
    return [](CVN::USB::IUSBDevice* device, std::uint16_t) -> std::shared_ptr<XmegaUSBDevice> {
        return StreamingXmegaUSBDevice::createInAnyMode(device);
    };
}

void XmegaStreamingNotifier::addWatchRows()
{
    addWatchRow(kVendorId, kBootloaderProductId, anyModeFactory());
}

} // namespace DiskRecorder
} // namespace CVN
