#pragma once

#include "usb/xmega/xmegausbnotifierbase.h"

#include <memory>

// The notifier bound to one device type T (XmegaUSBDevice or a class derived from it) and a
// delegate that takes shared pointers to T.
template<class T> class XmegaUSBNotifierTemplate : public XmegaUSBNotifierBase
{
public:
    class Delegate : public XmegaUSBNotifierBase::Delegate
    {
    public:
        virtual void arrived(std::shared_ptr<T> device) = 0;
        virtual void removed(std::shared_ptr<T> device) = 0;
    };

    // A factory for rows whose device object is made by T::create.
    static Factory factory()
    {
        return [](CVN::USB::IUSBDevice* device, uint16_t) -> std::shared_ptr<XmegaUSBDevice> {
            return T::create(device);
        };
    }

protected:
    void addWatchRows() override {}

    void deviceArrived(const std::shared_ptr<XmegaUSBDevice>& device) override
    {
        auto* d = dynamic_cast<Delegate*>(delegate());
        auto typed = std::dynamic_pointer_cast<T>(device);
        if (d && typed)
            d->arrived(typed);
    }

    void deviceRemoved(const std::shared_ptr<XmegaUSBDevice>& device) override
    {
        auto* d = dynamic_cast<Delegate*>(delegate());
        auto typed = std::dynamic_pointer_cast<T>(device);
        if (d && typed)
            d->removed(typed);
    }
};
