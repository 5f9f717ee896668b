#pragma once

#include "usb/xmega/qtxmegausbdevice.h"
#include "usb/xmega/qtxmegausbregistry.h"
#include "usb/xmega/xmegausbnotifiertemplate.h"

#include <memory>

// The registry side of an XMEGA notifier: the delegate of the USB-side notifier, it keeps the
// live units by unique id and tells its own delegate of arrivals, returns from an announced
// reboot and removals, each with a handle on the unit. Runs on the USB-side notifier's
// thread. The USB-side notifier must be stopped (destroyed) before this object.
template<class T> class QtXmegaUSBNotifier : public XmegaUSBNotifierTemplate<T>::Delegate
{
public:
    using Handle = QtXmegaUSBDevice<T>;

    class Delegate
    {
    public:
        virtual ~Delegate() = default;
        virtual void arrived(Handle& device) = 0;
        virtual void rebooted(Handle& device) = 0;
        virtual void removed(Handle& device) = 0;
    };

    QtXmegaUSBNotifier()
        : m_registry(QtXmegaUSBRegistry<T>::create())
    {
        m_registry->setTimeoutHandler([this](const DeviceId& id, std::shared_ptr<T> device) {
            Handle handle(m_registry, id, std::move(device));
            if (m_delegate)
                m_delegate->removed(handle);
        });
    }

    ~QtXmegaUSBNotifier() override { m_registry->setTimeoutHandler({}); }

    QtXmegaUSBNotifier(const QtXmegaUSBNotifier&) = delete;
    QtXmegaUSBNotifier& operator=(const QtXmegaUSBNotifier&) = delete;

    void setDelegate(Delegate* delegate) { m_delegate = delegate; }
    Delegate* delegate() const { return m_delegate; }
    XmegaUSBNotifierTemplate<T>* usbNotifier() const { return m_usbNotifier; }
    const std::shared_ptr<QtXmegaUSBRegistry<T>>& registry() const { return m_registry; }

    // Binds the USB-side notifier (once; not owned) and starts it with this as its delegate.
    bool start(XmegaUSBNotifierTemplate<T>* usbNotifier, bool rebootBootloaderUnits)
    {
        if (m_usbNotifier || !usbNotifier)
            return false;
        m_usbNotifier = usbNotifier;
        m_usbNotifier->start(this, rebootBootloaderUnits);
        return true;
    }

    // A handle on a unit the registry holds; an empty handle (null device) otherwise.
    Handle find(const DeviceId& id) const
    {
        std::shared_ptr<T> device = m_registry->device(id);
        return device ? Handle(m_registry, id, std::move(device)) : Handle();
    }

    void arrived(std::shared_ptr<T> device) override
    {
        DeviceId id = DeviceId::invalid();
        if (!device || !device->getUniqueId(id))
            return;
        const auto kind = m_registry->arrived(id, device);
        Handle handle(m_registry, id, std::move(device));
        if (!m_delegate)
            return;
        if (kind == QtXmegaUSBRegistry<T>::Arrival::Returned)
            m_delegate->rebooted(handle);
        else
            m_delegate->arrived(handle);
    }

    void removed(std::shared_ptr<T> device) override
    {
        DeviceId id = DeviceId::invalid();
        if (!m_registry->removed(device, &id))
            return;
        Handle handle(m_registry, id, std::move(device));
        if (m_delegate)
            m_delegate->removed(handle);
    }

private:
    std::shared_ptr<QtXmegaUSBRegistry<T>> m_registry;
    XmegaUSBNotifierTemplate<T>* m_usbNotifier = nullptr;
    Delegate* m_delegate = nullptr;
};
