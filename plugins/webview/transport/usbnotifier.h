#pragma once

#include "plugins/webview/transport/basicusbdelegate.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Platform {
class ThreadRecipient;
struct Message;
} // namespace Platform

class BasicUSBNotifier;

// Tells the web-view plug-in when one of its recorders is plugged in or removed. Its
// notifier runs on a thread of its own (a thread recipient), which also completes the
// recorders' asynchronous transfers; both callbacks are called on that thread, so their
// owner hands the work to its own. Must not be destroyed from that thread (a callback).
class UsbNotifier : private BasicUSBDelegate
{
public:
    using DeviceCallback = std::function<void(CVN::USB::IUSBDevice* device)>;

    // The message the units' transfer completions arrive with.
    static constexpr uint32_t kAsyncEventMessage = 0x8000;

    // Watches exactly these product ids, of any vendor.
    explicit UsbNotifier(const std::vector<uint16_t>& productIds);
    // Watches the keys of a product table.
    template<class Table> static std::vector<uint16_t> productIdsOf(const Table& table)
    {
        std::vector<uint16_t> ids;
        for (const auto& row : table)
            ids.push_back(uint16_t(row.first));
        return ids;
    }
    ~UsbNotifier() override;

    UsbNotifier(const UsbNotifier&) = delete;
    UsbNotifier& operator=(const UsbNotifier&) = delete;

    // Either may be empty; callable at any time.
    void setOnArrived(DeviceCallback callback);
    void setOnRemoved(DeviceCallback callback);

    // Starts the notifier thread (once) and the notifications on it; the recorders already
    // present are told before this returns. True when the notifications run.
    bool start();

    // The product ids watched.
    std::vector<uint16_t> productIds() const;
    // True on the notifier's thread.
    bool isNotifierThread() const;

private:
    void deviceArrived(CVN::USB::IUSBDevice* device) override;
    void deviceRemoved(CVN::USB::IUSBDevice* device) override;
    bool handleMessage(const Platform::Message& message);

    std::unique_ptr<BasicUSBNotifier> m_notifier;
    std::unique_ptr<Platform::ThreadRecipient> m_thread;
    // Set on the notifier thread once the notifier runs there; messages before are ignored.
    bool m_running = false;
    bool m_started = false;
    std::mutex m_startMutex;
    mutable std::mutex m_callbackMutex;
    DeviceCallback m_onArrived;
    DeviceCallback m_onRemoved;
};
