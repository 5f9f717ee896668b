#pragma once

#include "usb/xmega/qtxmegausbnotifier.h"

#include <cstdint>
#include <memory>

namespace Platform {
class Recipient;
struct Message;
} // namespace Platform

namespace CVN {
namespace DiskRecorder {

// The two halves of an XMEGA recorder notifier, kept in the order they must go: the registry
// of live units (reporting to the delegate given at construction) and, once started, the
// USB-side notifier UsbNotifier that reports to it. The USB side is stopped first.
template<class T, class UsbNotifier> class XmegaUnitWatch
{
public:
    explicit XmegaUnitWatch(typename QtXmegaUSBNotifier<T>::Delegate* delegate)
        : m_qtNotifier(new QtXmegaUSBNotifier<T>)
    {
        m_qtNotifier->setDelegate(delegate);
    }
    ~XmegaUnitWatch() { stop(); }

    XmegaUnitWatch(const XmegaUnitWatch&) = delete;
    XmegaUnitWatch& operator=(const XmegaUnitWatch&) = delete;

    // Unregisters and tells the delegate nothing more. The owner calls it before it lets go of
    // the objects it made.
    void stop()
    {
        m_usbNotifier.reset();
        m_qtNotifier->setDelegate(nullptr);
    }

    bool isStarted() const { return m_usbNotifier != nullptr; }

    // Registers; the units already present are reported before it returns. False when
    // already started.
    bool start(Platform::Recipient* window, std::uint32_t flags)
    {
        if (m_usbNotifier)
            return false;
        m_usbNotifier.reset(new UsbNotifier);
        m_usbNotifier->setNotificationWindow(window, flags);
        return m_qtNotifier->start(m_usbNotifier.get(), false);
    }

    bool handleDeviceChange(const Platform::Message& message)
    {
        return m_usbNotifier && m_usbNotifier->handleDeviceChangeMessage(message);
    }

    const QtXmegaUSBNotifier<T>& registry() const { return *m_qtNotifier; }

private:
    std::unique_ptr<QtXmegaUSBNotifier<T>> m_qtNotifier;
    std::unique_ptr<UsbNotifier> m_usbNotifier;
};

} // namespace DiskRecorder
} // namespace CVN
