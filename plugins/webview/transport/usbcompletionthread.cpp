#include "plugins/webview/transport/usbcompletionthread.h"

#include "usb/driver/iusbdevice.h"

using namespace CVN::USB;

namespace WebViewUsb {

UsbCompletionThread& UsbCompletionThread::instance()
{
    static UsbCompletionThread thread;
    return thread;
}

UsbCompletionThread::UsbCompletionThread()
{
    m_thread.setMessageHandler(
        [this](const Platform::Message& message, intptr_t*) { return handle(message); });
    m_thread.start();
}

UsbCompletionThread::~UsbCompletionThread()
{
    m_thread.quit();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& d : m_devices) {
        d.first->setAsyncEventSink(nullptr, 0);
        d.first->Release();
    }
    m_devices.clear();
    m_messages.clear();
}

bool UsbCompletionThread::attach(IUSBDevice* device)
{
    if (!device)
        return false;
    uint32_t message = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Entry& entry = m_devices[device];
        if (entry.users++ > 0)
            return true;
        // Message numbers are not reused, so a late message of a detached device finds
        // nobody.
        entry.device = device;
        entry.message = message = m_nextMessage++;
        device->AddRef();
        m_messages[message] = device;
    }
    // The sink changes on this thread only: it is the thread that completes the device's
    // transfers with the device's lock held, so no other lock order arises, and changes
    // happen in the order they were asked for. Waited for, so the caller's interface
    // registers with the sink already in place.
    bool set = false;
    const bool ran = m_thread.invoke(
        [&] { set = device->setAsyncEventSink(&m_thread, message) == kCVNUsbSuccess; });
    if (ran && set)
        return true;
    detach(device);
    return false;
}

void UsbCompletionThread::detach(IUSBDevice* device)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_devices.find(device);
        if (it == m_devices.end() || --it->second.users > 0)
            return;
        m_messages.erase(it->second.message);
        m_devices.erase(it);
    }
    auto unset = [device] {
        device->setAsyncEventSink(nullptr, 0);
        device->Release();
    };
    if (m_thread.isOwnerThread() || !m_thread.post(unset))
        unset();
}

bool UsbCompletionThread::isCompletionThread() const
{
    return m_thread.isOwnerThread();
}

bool UsbCompletionThread::handle(const Platform::Message& message)
{
    IUSBDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_messages.find(message.message);
        if (it == m_messages.end())
            return false;
        device = it->second;
        device->AddRef();
    }
    const CVNUsbStatus status =
        device->dispatchAsyncEvent(reinterpret_cast<CVNUsbEvent>(message.wParam),
                                   reinterpret_cast<IUSBInterface*>(message.lParamValue));
    device->Release();
    return status == kCVNUsbSuccess;
}

} // namespace WebViewUsb
