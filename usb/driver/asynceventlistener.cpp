#include "usb/driver/asynceventlistener.h"

#include "platform/recipient.h"

namespace CVN {
namespace USB {

AsyncEventListener::AsyncEventListener(IUSBInterface* interface, Platform::Recipient* window,
                                       uint32_t message)
    : m_interface(interface)
    , m_window(window)
    , m_message(message)
{
}

bool AsyncEventListener::post(CVNUsbEvent event) const
{
    Platform::Message m;
    m.message = m_message;
    m.wParam = reinterpret_cast<uintptr_t>(event);
    m.lParamValue = reinterpret_cast<uintptr_t>(m_interface);
    return m_window->postMessage(std::move(m));
}

} // namespace USB
} // namespace CVN
