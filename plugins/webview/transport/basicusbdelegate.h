#pragma once

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

// Told by a BasicUSBNotifier of its units, on the notifier's thread.
class BasicUSBDelegate
{
public:
    virtual ~BasicUSBDelegate() = default;
    virtual void deviceArrived(CVN::USB::IUSBDevice* device) = 0;
    virtual void deviceRemoved(CVN::USB::IUSBDevice* device) = 0;
};
