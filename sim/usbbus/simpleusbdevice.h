#pragma once

#include "sim/usbbus/usbbus.h"
#include "sim/usbbus/usbdevicemodel.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace Sim {

// A ready base for device models: answers GET_DESCRIPTOR (device, configuration, strings)
// from its identity, configuration and strings; routes other control requests by
// (bmRequestType, bRequest) to handlers; keeps bulk IN data in per-endpoint queues that
// satisfy waiting and later reads; hands bulk OUT data to handlers or keeps it.
//
//     auto dev = std::make_shared<SimpleUsbDevice>(identity, ConfigurationBuilder()
//         .interface(0, 0, 0xFF, 2, 0).bulkOut(0x01).bulkIn(0x81).build());
//     dev->onControl(0xC0, 0x10, [](const ControlSetup&, const std::vector<uint8_t>&,
//                                   std::vector<uint8_t>* in) { *in = {1, 2}; return 0u; });
//     DeviceId id = UsbBus::instance().plug(dev);
//
// Unknown requests stall. All members are thread-safe; handlers run without the model's
// lock held, on the host's thread (control) or the bus worker (asynchronous bulk).
class SimpleUsbDevice : public UsbDeviceModel
{
public:
    // Gives a Usbd status; kNoReply leaves the request unanswered (the host times out), and
    // the handler may keep the transfer to answer later through respond().
    static constexpr uint32_t kNoReply = 0xFFFFFFFFu;
    using ControlHandler = std::function<uint32_t(
        const ControlSetup& setup, const std::vector<uint8_t>& out, std::vector<uint8_t>* in)>;
    using BulkOutHandler = std::function<uint32_t(const std::vector<uint8_t>& data)>;

    SimpleUsbDevice(DeviceIdentity identity, std::vector<uint8_t> configuration);
    ~SimpleUsbDevice() override;

    DeviceIdentity identity() const override;
    std::vector<uint8_t> configurationDescriptor(uint8_t index) const override;
    void control(const TransferPtr& transfer) override;
    void bulk(const TransferPtr& transfer) override;
    void attached(UsbBus* bus, DeviceId id) override;
    void detached() override;

    void setConfiguration(std::vector<uint8_t> configuration);
    // String descriptor text (ASCII); index 0 is the language list and is built in.
    void setString(uint8_t index, const std::string& text);
    void onControl(uint8_t requestType, uint8_t request, ControlHandler handler);
    void onBulkOut(uint8_t endpoint, BulkOutHandler handler);

    // Data for the host on an IN endpoint: completes a waiting read, else waits for one.
    // Each queued block ends one read; a read shorter than the block leaves the rest queued.
    void queueIn(uint8_t endpoint, std::vector<uint8_t> data);
    // OUT data that arrived on an endpoint without a handler, one entry per transfer.
    std::vector<std::vector<uint8_t>> bulkOutData(uint8_t endpoint) const;
    // Reads the host has started and the device has not answered yet.
    int waitingReads(uint8_t endpoint) const;

    UsbBus* bus() const;
    DeviceId id() const;
    bool isAttached() const;

    // Runs work once the control request being answered on this thread has its answer, or at
    // once outside one: a device that leaves the bus because of a request must not take the
    // answer to that request with it, however late its thread gets to deliver it.
    static void afterAnswer(std::function<void()> work);

protected:
    // Standard requests; override to change how the device answers them.
    virtual uint32_t standardRequest(const ControlSetup& setup, std::vector<uint8_t>* in);

private:
    void feedLocked(uint8_t endpoint, std::vector<std::pair<TransferPtr, std::vector<uint8_t>>>*);

    mutable std::mutex m_mutex;
    DeviceIdentity m_identity;
    std::vector<uint8_t> m_configuration;
    std::map<uint8_t, std::string> m_strings;
    std::map<uint16_t, ControlHandler> m_control;
    std::map<uint8_t, BulkOutHandler> m_bulkOut;
    std::map<uint8_t, std::vector<std::vector<uint8_t>>> m_outData;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> m_inData;
    std::map<uint8_t, std::deque<TransferPtr>> m_reads;
    UsbBus* m_bus = nullptr;
    DeviceId m_id = 0;
};

} // namespace Sim
