#pragma once

#include "usb/driver/iusbdevice.h"

#include <atomic>
#include <functional>

// A USB device that passes every call to another one, with a hook around control transfers,
// for faults the simulated bus cannot make (a layer that reports fewer bytes than asked for)
// and for timing the transfers. Holds a reference on the device it wraps.
class ForwardingUsbDevice final : public CVN::USB::IUSBDevice
{
public:
    // Given the request and the wrapped device's transfer; answers the status.
    using ControlHook = std::function<CVN::USB::CVNUsbStatus(
        CVN::USB::UsbControlRequest* request,
        const std::function<CVN::USB::CVNUsbStatus()>& transfer)>;

    explicit ForwardingUsbDevice(CVN::USB::IUSBDevice* inner, ControlHook hook = {})
        : m_inner(inner)
        , m_hook(std::move(hook))
    {
        m_inner->AddRef();
    }

    uint32_t AddRef() override { return ++m_refs; }
    uint32_t Release() override
    {
        const uint32_t count = --m_refs;
        if (count == 0)
            delete this;
        return count;
    }
    CVN::USB::CVNUsbStatus controlTransfer(CVN::USB::UsbControlRequest* request) override
    {
        auto transfer = [&] { return m_inner->controlTransfer(request); };
        return m_hook ? m_hook(request, transfer) : transfer();
    }
    CVN::USB::CVNUsbStatus byteProperty823(uint8_t* v) override
    {
        return m_inner->byteProperty823(v);
    }
    CVN::USB::CVNUsbStatus byteProperty825(uint8_t* v) override
    {
        return m_inner->byteProperty825(v);
    }
    CVN::USB::CVNUsbStatus productId(uint16_t* v) override { return m_inner->productId(v); }
    CVN::USB::CVNUsbStatus byteProperty827(uint8_t* v) override
    {
        return m_inner->byteProperty827(v);
    }
    CVN::USB::CVNUsbStatus wordProperty828(uint16_t* v) override
    {
        return m_inner->wordProperty828(v);
    }
    CVN::USB::CVNUsbStatus unsupportedProperty8() override
    {
        return m_inner->unsupportedProperty8();
    }
    CVN::USB::CVNUsbStatus byteProperty82A(uint8_t* v) override
    {
        return m_inner->byteProperty82A(v);
    }
    CVN::USB::CVNUsbStatus vendorId(uint16_t* v) override { return m_inner->vendorId(v); }
    CVN::USB::CVNUsbStatus unsupportedProperty11() override
    {
        return m_inner->unsupportedProperty11();
    }
    CVN::USB::CVNUsbStatus configurationCount(uint8_t* v) override
    {
        return m_inner->configurationCount(v);
    }
    CVN::USB::CVNUsbStatus selectConfiguration(uint8_t c) override
    {
        return m_inner->selectConfiguration(c);
    }
    CVN::USB::CVNUsbStatus open() override { return m_inner->open(); }
    CVN::USB::CVNUsbStatus close() override { return m_inner->close(); }
    CVN::USB::CVNUsbStatus resetDevice() override { return m_inner->resetDevice(); }
    CVN::USB::CVNUsbStatus byteProperty83C(uint8_t* v) override
    {
        return m_inner->byteProperty83C(v);
    }
    CVN::USB::CVNUsbStatus createInterfaceIterator(const CVN::USB::FindInterfaceRequest* r,
                                                   CVN::USB::IUSBInterfaceIterator** i) override
    {
        return m_inner->createInterfaceIterator(r, i);
    }
    CVN::USB::CVNUsbStatus dispatchAsyncEvent(CVN::USB::CVNUsbEvent e,
                                              CVN::USB::IUSBInterface* i) override
    {
        return m_inner->dispatchAsyncEvent(e, i);
    }
    CVN::USB::CVNUsbStatus setAsyncEventSink(Platform::Recipient* w, uint32_t m) override
    {
        return m_inner->setAsyncEventSink(w, m);
    }
    CVN::USB::CVNUsbStatus deviceRevision(uint16_t* v) override
    {
        return m_inner->deviceRevision(v);
    }
    CVN::USB::CVNUsbStatus serialNumberStringIndex(uint8_t* v) override
    {
        return m_inner->serialNumberStringIndex(v);
    }
    CVN::USB::CVNUsbStatus setDriverOption(uint8_t v) override
    {
        return m_inner->setDriverOption(v);
    }

private:
    ~ForwardingUsbDevice() override { m_inner->Release(); }

    std::atomic<uint32_t> m_refs{1};
    CVN::USB::IUSBDevice* m_inner;
    ControlHook m_hook;
};
