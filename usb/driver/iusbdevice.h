#pragma once

#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/findinterfacerequest.h"
#include "usb/driver/iusbinterface.h"
#include "usb/driver/usbcontrolrequest.h"

#include <cstdint>

namespace Platform {
class Recipient;
}

namespace CVN {
namespace USB {

class IUSBInterfaceIterator;

// An open USB device. Reference counted: the last Release destroys it. The object's
// address identifies the device. Once the device is gone every call on it fails.
class IUSBDevice
{
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual CVNUsbStatus controlTransfer(UsbControlRequest* request) = 0;
    virtual CVNUsbStatus byteProperty823(uint8_t* value) = 0;
    virtual CVNUsbStatus byteProperty825(uint8_t* value) = 0;
    virtual CVNUsbStatus productId(uint16_t* value) = 0;
    virtual CVNUsbStatus byteProperty827(uint8_t* value) = 0;
    virtual CVNUsbStatus wordProperty828(uint16_t* value) = 0;
    virtual CVNUsbStatus unsupportedProperty8() = 0;
    virtual CVNUsbStatus byteProperty82A(uint8_t* value) = 0;
    virtual CVNUsbStatus vendorId(uint16_t* value) = 0;
    virtual CVNUsbStatus unsupportedProperty11() = 0;
    virtual CVNUsbStatus configurationCount(uint8_t* value) = 0;
    virtual CVNUsbStatus selectConfiguration(uint8_t configuration) = 0;
    virtual CVNUsbStatus open() = 0;
    virtual CVNUsbStatus close() = 0;
    virtual CVNUsbStatus resetDevice() = 0;
    virtual CVNUsbStatus byteProperty83C(uint8_t* value) = 0;
    virtual CVNUsbStatus createInterfaceIterator(const FindInterfaceRequest* request,
                                                 IUSBInterfaceIterator** iterator) = 0;
    // Completes the asynchronous request named by a posted message (its word parameter and
    // the interface pointer it carries): 0 when an interface took it, else kCVNUsbNotHandled.
    virtual CVNUsbStatus dispatchAsyncEvent(CVNUsbEvent event, IUSBInterface* interface) = 0;
    // Where completion messages of the interfaces registered for asynchronous events go.
    virtual CVNUsbStatus setAsyncEventSink(Platform::Recipient* window, uint32_t message) = 0;

    // Named views of the driver's device properties.
    virtual CVNUsbStatus deviceRevision(uint16_t* value) = 0;
    virtual CVNUsbStatus serialNumberStringIndex(uint8_t* value) = 0;
    // A byte-valued option of the driver for this device.
    virtual CVNUsbStatus setDriverOption(uint8_t value) = 0;

protected:
    virtual ~IUSBDevice() = default;
};

} // namespace USB
} // namespace CVN
