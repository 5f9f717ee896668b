#pragma once

#include "usb/driver/cvnusbstatus.h"

#include <cstdint>

namespace CVN {
namespace USB {

// Identifies one asynchronous request: the word parameter of its completion message.
using CVNUsbEvent = void*;

// Told once when an asynchronous transfer ends: status 0 success, 8 (kCVNUsbAborted) when it
// was cancelled, 1 any other failure; the bytes moved, and the context given when it started.
using CVNUsbCompletion = void (*)(CVNUsbStatus status, uint32_t bytes, void* context);

// One USB interface of an open device. Reference counted: the last Release destroys it.
// Pipes are numbered from 1 to the endpoint count; time-outs are milliseconds.
class IUSBInterface
{
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual CVNUsbStatus interfaceClass(uint8_t* value) = 0;
    virtual CVNUsbStatus interfaceNumber(uint8_t* value) = 0;
    virtual CVNUsbStatus byteProperty832(uint8_t* value) = 0;
    virtual CVNUsbStatus byteProperty833(uint8_t* value) = 0;
    virtual CVNUsbStatus GetNumEndpoints(uint8_t* count) = 0;
    // direction 0 out, 1 in; transfer type 2 bulk; the fourth value is the interval.
    virtual CVNUsbStatus GetPipeProperties(uint8_t pipe, uint8_t* direction, uint8_t* transferType,
                                           uint16_t* maxPacketSize, uint8_t* fourth) = 0;
    virtual CVNUsbStatus resetPipe(uint8_t pipe) = 0;
    // *length in: bytes to read; out: bytes read.
    virtual CVNUsbStatus readPipe(uint8_t pipe, void* buffer, uint32_t* length, uint32_t timeout,
                                  uint32_t timeout2) = 0;
    virtual CVNUsbStatus writePipe(uint8_t pipe, const void* data, uint32_t length,
                                   uint32_t timeout, uint32_t timeout2) = 0;
    // The buffer must stay valid until the completion is told. A refused start gives a
    // non-zero status and never tells the completion.
    virtual CVNUsbStatus readPipeAsync(uint8_t pipe, void* buffer, uint32_t length,
                                       CVNUsbCompletion completion, void* context) = 0;
    virtual CVNUsbStatus writePipeAsync(uint8_t pipe, const void* data, uint32_t length,
                                        CVNUsbCompletion completion, void* context) = 0;
    // Takes the interface for this handle alone: kCVNUsbExclusiveAccess when another user
    // holds it.
    virtual CVNUsbStatus open() = 0;
    // Gives the interface up again.
    virtual CVNUsbStatus close() = 0;
    // The next descriptor of this interface's part of configuration 0 after previous (from
    // the interface descriptor itself when previous is null) whose type is type, or any
    // type for 0xFF. Null at the end. The bytes live as long as the device.
    virtual const uint8_t* findDescriptor(const uint8_t* previous, uint8_t type) = 0;
    virtual CVNUsbStatus registerForAsyncEvents() = 0;
    virtual CVNUsbStatus unregisterForAsyncEvents() = 0;
    virtual CVNUsbStatus pendingAsyncEvents(CVNUsbEvent* events, int32_t capacity,
                                            uint32_t* count) = 0;
    virtual CVNUsbStatus completeAsyncRequest(CVNUsbEvent event) = 0;

    // Named views of the driver's interface properties.
    virtual CVNUsbStatus interfaceSubclass(uint8_t* value) = 0;
    virtual CVNUsbStatus interfaceProtocol(uint8_t* value) = 0;
    // The index-th descriptor (from 0) of a type in this interface's part, or null.
    virtual const uint8_t* findClassDescriptor(uint8_t type, uint32_t index) = 0;

protected:
    virtual ~IUSBInterface() = default;
};

} // namespace USB
} // namespace CVN
