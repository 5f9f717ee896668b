#pragma once

#include "platform/threadrecipient.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

namespace WebViewUsb {

// The thread on which the transports' asynchronous transfers complete. A device whose
// interfaces start asynchronous transfers is attached here: its completion messages go to
// this thread's queue (one message number per device), which hands them back to the device,
// so every started transfer is completed even when nobody else runs a message loop.
class UsbCompletionThread
{
public:
    // The module's one completion thread, started on first use.
    static UsbCompletionThread& instance();

    ~UsbCompletionThread();

    // Makes the device send its completion messages here; counted, so every attach needs
    // one detach. Holds a reference on the device while attached. False when the thread is
    // not running.
    bool attach(CVN::USB::IUSBDevice* device);
    void detach(CVN::USB::IUSBDevice* device);

    bool isCompletionThread() const;

private:
    UsbCompletionThread();
    bool handle(const Platform::Message& message);

    struct Entry
    {
        CVN::USB::IUSBDevice* device = nullptr;
        uint32_t message = 0;
        int users = 0;
    };

    Platform::ThreadRecipient m_thread;
    mutable std::mutex m_mutex;
    std::map<CVN::USB::IUSBDevice*, Entry> m_devices;
    std::map<uint32_t, CVN::USB::IUSBDevice*> m_messages;
    uint32_t m_nextMessage = kFirstMessage;

    static constexpr uint32_t kFirstMessage = 0xC000;
};

} // namespace WebViewUsb
