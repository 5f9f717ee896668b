#pragma once

#include "usb/driver/iusbdevice.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace CVN {
namespace USB {

struct DriverConnection;
class CUSBInterface;

class CUSBDevice final : public IUSBDevice
{
public:
    // Takes its own reference on the connection.
    explicit CUSBDevice(DriverConnection* connection);

    uint32_t AddRef() override;
    uint32_t Release() override;
    CVNUsbStatus controlTransfer(UsbControlRequest* request) override;
    CVNUsbStatus byteProperty823(uint8_t* value) override;
    CVNUsbStatus byteProperty825(uint8_t* value) override;
    CVNUsbStatus productId(uint16_t* value) override;
    CVNUsbStatus byteProperty827(uint8_t* value) override;
    CVNUsbStatus wordProperty828(uint16_t* value) override;
    CVNUsbStatus unsupportedProperty8() override;
    CVNUsbStatus byteProperty82A(uint8_t* value) override;
    CVNUsbStatus vendorId(uint16_t* value) override;
    CVNUsbStatus unsupportedProperty11() override;
    CVNUsbStatus configurationCount(uint8_t* value) override;
    CVNUsbStatus selectConfiguration(uint8_t configuration) override;
    CVNUsbStatus open() override;
    CVNUsbStatus close() override;
    CVNUsbStatus resetDevice() override;
    CVNUsbStatus byteProperty83C(uint8_t* value) override;
    CVNUsbStatus createInterfaceIterator(const FindInterfaceRequest* request,
                                         IUSBInterfaceIterator** iterator) override;
    CVNUsbStatus dispatchAsyncEvent(CVNUsbEvent event, IUSBInterface* interface) override;
    CVNUsbStatus setAsyncEventSink(Platform::Recipient* window, uint32_t message) override;
    CVNUsbStatus deviceRevision(uint16_t* value) override;
    CVNUsbStatus serialNumberStringIndex(uint8_t* value) override;
    CVNUsbStatus setDriverOption(uint8_t value) override;

    DriverConnection* connection() const { return m_connection; }

    // Configuration index's descriptor (wTotalLength bytes as the driver gave them), read
    // from the driver once and kept for the device's life; null on failure.
    const std::vector<uint8_t>* configurationDescriptor(uint8_t index);

    // Interfaces registered for asynchronous events.
    CVNUsbStatus addAsyncInterface(CUSBInterface* interface);
    void removeAsyncInterface(CUSBInterface* interface);

    // Bounds the interface list a driver may announce.
    static constexpr uint32_t kMaxInterfaceIds = 4096;

private:
    ~CUSBDevice() override;

    CVNUsbStatus byteProperty(uint32_t function, uint8_t* value) const;
    CVNUsbStatus wordProperty(uint32_t function, uint16_t* value) const;

    std::atomic<uint32_t> m_refs{1};
    DriverConnection* m_connection;
    std::mutex m_cacheMutex;
    std::vector<std::unique_ptr<std::vector<uint8_t>>> m_cache;
    // Held while an event is dispatched, so a callback may unregister or release.
    std::recursive_mutex m_interfacesMutex;
    std::vector<CUSBInterface*> m_interfaces;
    Platform::Recipient* m_sink = nullptr;
    uint32_t m_sinkMessage = 0;
};

} // namespace USB
} // namespace CVN
