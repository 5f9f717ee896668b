#pragma once

#include "platform/qtrecipient.h"
#include "plugins/recorder/ikestrel.h"
#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "sim/usbbus/usbbus.h"

#include <algorithm>
#include <vector>

// The family's side: keeps a reference on every device it is told of, as a visible device
// would, and drops it when told of the removal.
struct FamilyDelegate : CVN::DiskRecorder::IKestrelNotificationDelegate
{
    ~FamilyDelegate() override
    {
        for (CVN::DiskRecorder::IKestrel* device : held)
            device->release();
    }
    void deviceArrived(CVN::DiskRecorder::IKestrel* device) override
    {
        device->addRef();
        held.push_back(device);
        arrivals.push_back(device);
    }
    void deviceRemoved(CVN::DiskRecorder::IKestrel* device) override { removals.push_back(device); }
    // Lets go of a device it holds: the count the object is left with.
    uint32_t drop(CVN::DiskRecorder::IKestrel* device)
    {
        auto it = std::find(held.begin(), held.end(), device);
        if (it == held.end())
            return ~0u;
        held.erase(it);
        return device->release();
    }

    std::vector<CVN::DiskRecorder::IKestrel*> held;
    std::vector<CVN::DiskRecorder::IKestrel*> arrivals;
    std::vector<CVN::DiskRecorder::IKestrel*> removals;
};

// A notifier of either generation on a window of this thread, its family beside it.
template<class Notifier> struct Watch
{
    template<class... Args>
    explicit Watch(Args&&... args)
        : notifier(std::forward<Args>(args)...)
    {
    }
    ~Watch() { Sim::UsbBus::instance().reset(); }

    bool start() { return notifier.start(&family, &window); }

    FamilyDelegate family;
    Notifier notifier;
    Platform::QtRecipient window{
        [this](const Platform::Message& m, intptr_t*) { return notifier.handleDeviceChange(m); }};
};
