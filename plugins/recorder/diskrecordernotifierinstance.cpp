#include "plugins/recorder/diskrecordernotifierinstance.h"

#include "plugins/recorder/diskrecorderinstance.h"

namespace CVN {
namespace DiskRecorder {

DiskRecorderNotifierInstance::DiskRecorderNotifierInstance(Platform::Recipient* window,
                                                           std::uint32_t flags,
                                                           Fx2RamImageTable table,
                                                           Delegate* delegate)
    : AbstractUSBDeviceNotifier(window, flags)
    , m_table(std::move(table))
    , m_delegate(delegate)
{
}

DiskRecorderNotifierInstance::~DiskRecorderNotifierInstance() = default;

std::vector<std::uint32_t> DiskRecorderNotifierInstance::vendorIds()
{
    return {kVendorId};
}

std::vector<std::uint32_t> DiskRecorderNotifierInstance::productIds()
{
    return m_table.productIds();
}

const CVN::USB::USBProductEntry*
DiskRecorderNotifierInstance::productEntryFor(std::uint16_t productId)
{
    return m_table.row(productId);
}

CVN::USB::CVNUsbStatus
DiskRecorderNotifierInstance::deviceAdded(CVN::USB::AbstractUSBDevice* device)
{
    if (auto* instance = dynamic_cast<DiskRecorderInstance*>(device)) {
        if (m_delegate)
            m_delegate->instanceArrived(instance);
    }
    return CVN::USB::kCVNUsbSuccess;
}

void DiskRecorderNotifierInstance::deviceRemoved(CVN::USB::AbstractUSBDevice* device)
{
    if (auto* instance = dynamic_cast<DiskRecorderInstance*>(device)) {
        if (m_delegate)
            m_delegate->instanceRemoved(instance);
    }
}

} // namespace DiskRecorder
} // namespace CVN
