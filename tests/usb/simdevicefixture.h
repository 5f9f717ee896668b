#pragma once

#include "platform/recipient.h"
#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/simpleusbdevice.h"
#include "sim/usbbus/usbbus.h"
#include "usb/driver/cvnusb.h"
#include "usb/driver/waitclock.h"

#include <atomic>
#include <memory>
#include <vector>

// A clock whose pauses only move its own time, so waits of seconds take none.
class ManualClock : public CVN::USB::WaitClock
{
public:
    TimePoint now() const override;
    void sleep(uint32_t ms) override;

    uint64_t sleptMs() const { return m_ms.load(); }
    int sleeps() const { return m_sleeps.load(); }

private:
    std::atomic<uint64_t> m_ms{0};
    std::atomic<int> m_sleeps{0};
};

// A small vendor device: interface 0 (class 0xFF/2) with bulk OUT 0x01 and bulk IN 0x81,
// interface 1 (class 0xFE/1) with a 9-byte class descriptor of type 0x21.
std::shared_ptr<Sim::SimpleUsbDevice> makeTestDevice(uint16_t vendorId = 0x2C4A,
                                                     uint16_t productId = 0xC34C);
std::vector<uint8_t> testConfiguration();

// Collects the devices a registration reports; each kept with its own reference.
struct DeviceCollector
{
    ~DeviceCollector();
    void clear();

    static CVN::USB::CVNUsbStatus arrived(CVN::USB::IUSBDevice* device, void* context);
    static CVN::USB::CVNUsbStatus removed(CVN::USB::IUSBDevice* device, void* context);

    std::vector<CVN::USB::IUSBDevice*> arrivals;
    std::vector<CVN::USB::IUSBDevice*> removals;
};

// Counts what is posted to it and runs nothing: shows whether anyone still posts there.
struct CountingRecipient : Platform::Recipient
{
    std::atomic<int> posts{0};
    bool post(std::function<void()>) override { return ++posts, true; }
    bool postMessage(Platform::Message) override { return ++posts, true; }
};

// Waits (up to 5 s) for the model to be on the bus, then gives the device the layer reports
// for it, with one reference for the caller; null when it does not come or is not alone.
CVN::USB::IUSBDevice* waitForDevice(const Sim::SimpleUsbDevice& model);
// Waits until the model has left and come back under a bus id other than old.
bool waitForNewBusId(const Sim::SimpleUsbDevice& model, Sim::DeviceId old, int timeoutMs = 5000);

// Registers without a recipient: the devices present are reported at once.
CVN::USB::NotificationRegistration* registerCollector(DeviceCollector* collector,
                                                      std::vector<uint32_t> vendors = {},
                                                      std::vector<uint32_t> products = {},
                                                      Platform::Recipient* recipient = nullptr);
