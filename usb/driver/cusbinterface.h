#pragma once

#include "usb/driver/iusbinterface.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {

class AsyncEventListener;
class CUSBDevice;
struct AsyncRequest;
struct DriverConnection;

class CUSBInterface final : public IUSBInterface
{
public:
    // Holds a reference on the device.
    CUSBInterface(CUSBDevice* device, uint32_t interfaceId);

    uint32_t AddRef() override;
    uint32_t Release() override;
    CVNUsbStatus interfaceClass(uint8_t* value) override;
    CVNUsbStatus interfaceNumber(uint8_t* value) override;
    CVNUsbStatus byteProperty832(uint8_t* value) override;
    CVNUsbStatus byteProperty833(uint8_t* value) override;
    CVNUsbStatus GetNumEndpoints(uint8_t* count) override;
    CVNUsbStatus GetPipeProperties(uint8_t pipe, uint8_t* direction, uint8_t* transferType,
                                   uint16_t* maxPacketSize, uint8_t* fourth) override;
    CVNUsbStatus resetPipe(uint8_t pipe) override;
    CVNUsbStatus readPipe(uint8_t pipe, void* buffer, uint32_t* length, uint32_t timeout,
                          uint32_t timeout2) override;
    CVNUsbStatus writePipe(uint8_t pipe, const void* data, uint32_t length, uint32_t timeout,
                           uint32_t timeout2) override;
    CVNUsbStatus readPipeAsync(uint8_t pipe, void* buffer, uint32_t length,
                               CVNUsbCompletion completion, void* context) override;
    CVNUsbStatus writePipeAsync(uint8_t pipe, const void* data, uint32_t length,
                                CVNUsbCompletion completion, void* context) override;
    CVNUsbStatus open() override;
    CVNUsbStatus close() override;
    const uint8_t* findDescriptor(const uint8_t* previous, uint8_t type) override;
    CVNUsbStatus registerForAsyncEvents() override;
    CVNUsbStatus unregisterForAsyncEvents() override;
    CVNUsbStatus pendingAsyncEvents(CVNUsbEvent* events, int32_t capacity,
                                    uint32_t* count) override;
    CVNUsbStatus completeAsyncRequest(CVNUsbEvent event) override;
    CVNUsbStatus interfaceSubclass(uint8_t* value) override;
    CVNUsbStatus interfaceProtocol(uint8_t* value) override;
    const uint8_t* findClassDescriptor(uint8_t type, uint32_t index) override;

    // Completion messages go to window (none: stop sending them). kCVNUsbError while one is
    // already set.
    CVNUsbStatus setAsyncEventSink(Platform::Recipient* window, uint32_t message);
    CVNUsbStatus dispatchAsyncEvent(CVNUsbEvent event, IUSBInterface* interface);

    // Asynchronous requests one interface keeps pending at most; more are refused.
    static constexpr size_t kMaxPendingRequests = 63;

private:
    ~CUSBInterface() override;

    CVNUsbStatus byteProperty(uint32_t function, uint8_t* value) const;
    void fillBlock(uint8_t* block, uint8_t pipe, uint32_t length, uint32_t timeout,
                   uint32_t timeout2) const;
    CVNUsbStatus startAsync(uint32_t function, uint8_t pipe, const void* data, void* buffer,
                            uint32_t length, CVNUsbCompletion completion, void* context);
    void requestSignalled(AsyncRequest* request);

    std::atomic<uint32_t> m_refs{1};
    DriverConnection* m_connection;
    CUSBDevice* m_device;
    uint32_t m_id;
    bool m_registered = false;
    bool m_claimed = false;
    std::mutex m_mutex; // the pending list and the listener
    std::vector<AsyncRequest*> m_pending;
    std::unique_ptr<AsyncEventListener> m_listener;
};

} // namespace USB
} // namespace CVN
