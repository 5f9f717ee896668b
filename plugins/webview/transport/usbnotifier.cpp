#include "plugins/webview/transport/usbnotifier.h"

#include "platform/threadrecipient.h"
#include "plugins/webview/transport/basicusbnotifier.h"

UsbNotifier::UsbNotifier(const std::vector<uint16_t>& productIds)
    : m_notifier(new BasicUSBNotifier(this))
{
    for (uint16_t id : productIds)
        m_notifier->addProductId(id);
}

UsbNotifier::~UsbNotifier()
{
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        m_onArrived = nullptr;
        m_onRemoved = nullptr;
    }
    if (m_thread) {
        // The registration and its units belong to the notifier thread: let it go there.
        m_thread->invoke([this] {
            m_running = false;
            m_notifier.reset();
        });
        m_thread->quit();
    }
    m_notifier.reset();
}

void UsbNotifier::setOnArrived(DeviceCallback callback)
{
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_onArrived = std::move(callback);
}

void UsbNotifier::setOnRemoved(DeviceCallback callback)
{
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_onRemoved = std::move(callback);
}

std::vector<uint16_t> UsbNotifier::productIds() const
{
    std::vector<uint16_t> ids;
    for (uint32_t id : m_notifier->productIds())
        ids.push_back(uint16_t(id));
    return ids;
}

bool UsbNotifier::isNotifierThread() const
{
    return m_thread && m_thread->isOwnerThread();
}

bool UsbNotifier::start()
{
    std::lock_guard<std::mutex> lock(m_startMutex);
    if (m_thread)
        return m_started;
    auto thread = std::make_unique<Platform::ThreadRecipient>(
        [this](const Platform::Message& message, intptr_t*) { return handleMessage(message); });
    if (!thread->start())
        return false;
    m_thread = std::move(thread);
    bool started = false;
    m_thread->invoke([this, &started] {
        m_notifier->setWindow(m_thread.get(), 0);
        m_notifier->setAsyncEventSink(m_thread.get(), kAsyncEventMessage);
        m_running = true;
        started = m_notifier->start();
    });
    m_started = started;
    return started;
}

bool UsbNotifier::handleMessage(const Platform::Message& message)
{
    if (!m_running)
        return false;
    if (message.message == Platform::kWmDeviceChange)
        return m_notifier->handleDeviceChange(message);
    if (message.message == kAsyncEventMessage)
        return m_notifier->handleAsyncEvent(message.wParam, message.lParamValue);
    return false;
}

void UsbNotifier::deviceArrived(CVN::USB::IUSBDevice* device)
{
    DeviceCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        callback = m_onArrived;
    }
    if (callback)
        callback(device);
}

void UsbNotifier::deviceRemoved(CVN::USB::IUSBDevice* device)
{
    DeviceCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        callback = m_onRemoved;
    }
    if (callback)
        callback(device);
}
