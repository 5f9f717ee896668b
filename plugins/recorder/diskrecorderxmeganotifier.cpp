#include "plugins/recorder/diskrecorderxmeganotifier.h"

namespace CVN {
namespace DiskRecorder {

DiskRecorderXmegaNotifier::DiskRecorderXmegaNotifier()
{
    addWatchRow(kVendorId, kProductId, factory());
}

void DiskRecorderXmegaNotifier::addWatchRows()
{
    addWatchRow(kVendorId, kBootloaderProductId, factory());
}

} // namespace DiskRecorder
} // namespace CVN
