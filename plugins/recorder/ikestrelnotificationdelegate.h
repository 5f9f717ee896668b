#pragma once

namespace CVN {
namespace DiskRecorder {

class IKestrel;

// Where a recorder notifier reports its units. The notifier owns each device object it
// reports and releases it after the removal; a delegate that keeps one past the call takes
// its own reference (addRef).
class IKestrelNotificationDelegate
{
public:
    virtual ~IKestrelNotificationDelegate() = default;
    virtual void deviceArrived(IKestrel* device) = 0;
    virtual void deviceRemoved(IKestrel* device) = 0;
};

} // namespace DiskRecorder
} // namespace CVN
