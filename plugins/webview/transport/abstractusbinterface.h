#pragma once

#include "plugins/webview/transport/usbpipe.h"
#include "plugins/webview/transport/usbresult.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace CVN {
namespace AbstractUSB {

// One USB interface in the transports' USB model. Queries throw std::runtime_error;
// transfers report a USBResult and never throw.
class AbstractUSBInterface
{
public:
    // Told once when an asynchronous read ends: the result and the bytes received.
    using ReadCompletion = std::function<void(USBResult result, uint32_t bytes)>;
    using WriteCompletion = std::function<void(USBResult result)>;

    virtual ~AbstractUSBInterface() = default;
    virtual bool open() = 0;
    virtual bool close() = 0;
    virtual uint8_t interfaceClass() = 0;
    virtual uint8_t interfaceSubclass() = 0;
    virtual std::vector<USBPipe> pipes() = 0;
    virtual USBResult resetPipe(uint8_t pipe) = 0;
    // The buffer must stay valid until the completion has been told. A refused start is
    // answered at once and the completion is never told.
    virtual USBResult readAsync(uint8_t pipe, void* buffer, uint32_t length,
                                ReadCompletion completion) = 0;
    virtual USBResult writeAsync(uint8_t pipe, const void* data, uint32_t length,
                                 WriteCompletion completion) = 0;
    virtual std::pair<USBResult, uint32_t> read(uint8_t pipe, void* buffer, uint32_t length) = 0;
    virtual USBResult write(uint8_t pipe, const void* data, uint32_t length) = 0;
    // As write, but a device that has not taken the data within limit fails the write.
    virtual USBResult writeWithin(uint8_t pipe, const void* data, uint32_t length,
                                  std::chrono::milliseconds limit) = 0;
    // A class request to this interface; *transferred gets the bytes moved.
    virtual USBResult controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                                      uint16_t length, uint32_t* transferred) = 0;
    virtual USBResult controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                                      uint16_t length) = 0;
};

} // namespace AbstractUSB
} // namespace CVN
