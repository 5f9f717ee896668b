#pragma once

#include "platform/message.h"
#include "usb/driver/cvnusbstatus.h"

#include <cstdint>
#include <vector>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {
class IUSBDevice;
struct NotificationRegistration;
} // namespace USB
} // namespace CVN

class BasicUSBDelegate;

// Watches the USB layer for units with one of its product ids (any vendor): keeps a
// reference on every matching unit present, tells the delegate of arrivals and removals,
// and routes the recipient's device-change and transfer-completion messages. Used only on
// the thread of the recipient it is given.
class BasicUSBNotifier
{
public:
    explicit BasicUSBNotifier(BasicUSBDelegate* delegate);
    virtual ~BasicUSBNotifier();

    BasicUSBNotifier(const BasicUSBNotifier&) = delete;
    BasicUSBNotifier& operator=(const BasicUSBNotifier&) = delete;

    void addProductId(uint16_t productId);
    // Where the layer posts device-change messages.
    void setWindow(Platform::Recipient* window, uint32_t flags);
    // Where the units' transfer-completion messages go: handed to every unit present and
    // to each one that arrives later.
    void setAsyncEventSink(Platform::Recipient* window, uint32_t message);

    // Registers with the layer; the units already present are told at once. False when the
    // registration failed.
    bool start();

    bool handleDeviceChange(const Platform::Message& message);
    // Offers a completion message to each unit in turn; true when one took it.
    bool handleAsyncEvent(uintptr_t wParam, uintptr_t lParam);

    const std::vector<CVN::USB::IUSBDevice*>& devices() const { return m_devices; }
    const std::vector<uint32_t>& productIds() const { return m_productIds; }

private:
    static CVN::USB::CVNUsbStatus arrived(CVN::USB::IUSBDevice* device, void* context);
    static CVN::USB::CVNUsbStatus removed(CVN::USB::IUSBDevice* device, void* context);

    CVN::USB::NotificationRegistration* m_registration = nullptr;
    BasicUSBDelegate* m_delegate;
    std::vector<uint32_t> m_productIds;
    std::vector<uint32_t> m_vendorIds;
    Platform::Recipient* m_window = nullptr;
    uint32_t m_windowFlags = 0;
    Platform::Recipient* m_eventWindow = nullptr;
    uint32_t m_eventMessage = 0;
    std::vector<CVN::USB::IUSBDevice*> m_devices;
};
