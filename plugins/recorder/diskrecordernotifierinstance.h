#pragma once

#include "plugins/recorder/fx2ramimagetable.h"
#include "usb/fx2/abstractusbdevicenotifier.h"

namespace CVN {
namespace DiskRecorder {

class DiskRecorderInstance;

// The USB side of the FX2 recorder notifier: watches the FX2 recorders' product ids, has
// the USB layer load a controller that needs its RAM program and open the ones that run it,
// and hands each opened recorder instance to its delegate.
class DiskRecorderNotifierInstance : public CVN::USB::AbstractUSBDeviceNotifier
{
public:
    class Delegate
    {
    public:
        virtual ~Delegate() = default;
        virtual void instanceArrived(DiskRecorderInstance* instance) = 0;
        virtual void instanceRemoved(DiskRecorderInstance* instance) = 0;
    };

    static constexpr std::uint32_t kVendorId = 0x2C4A;

    DiskRecorderNotifierInstance(Platform::Recipient* window, std::uint32_t flags,
                                 Fx2RamImageTable table, Delegate* delegate);
    ~DiskRecorderNotifierInstance() override;

    std::vector<std::uint32_t> vendorIds() override;
    std::vector<std::uint32_t> productIds() override;
    const CVN::USB::USBProductEntry* productEntryFor(std::uint16_t productId) override;
    CVN::USB::CVNUsbStatus deviceAdded(CVN::USB::AbstractUSBDevice* device) override;
    void deviceRemoved(CVN::USB::AbstractUSBDevice* device) override;

private:
    Fx2RamImageTable m_table;
    Delegate* m_delegate;
};

} // namespace DiskRecorder
} // namespace CVN
