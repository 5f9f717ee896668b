#pragma once

#include "usb/driver/iusbinterface.h"

#include <cstdint>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {

// Carries the completion of an interface's asynchronous requests to its recipient: one
// message per request (word parameter: the request's event; long parameter: the interface),
// handled on the recipient's thread, which completes the request there.
class AsyncEventListener
{
public:
    AsyncEventListener(IUSBInterface* interface, Platform::Recipient* window, uint32_t message);

    bool post(CVNUsbEvent event) const;

private:
    IUSBInterface* m_interface;
    Platform::Recipient* m_window;
    uint32_t m_message;
};

} // namespace USB
} // namespace CVN
