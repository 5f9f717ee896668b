#pragma once

#include "platform/overlapped.h"
#include "usb/driver/iusbinterface.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace CVN {
namespace USB {

// One started asynchronous pipe transfer: the caller's completion and context, the
// driver's completion state, and the request buffer (the pipe transfer block, then the data
// of a write), which must outlive the driver's work on it.
struct AsyncRequest
{
    AsyncRequest(CVNUsbCompletion completion, void* context,
                 std::function<void(AsyncRequest*)> signalled)
        : completion(completion)
        , context(context)
        , onSignalled(std::move(signalled))
        , overlapped([this] { onSignalled(this); })
    {
    }

    CVNUsbEvent event() { return this; }

    CVNUsbCompletion completion;
    void* context;
    std::function<void(AsyncRequest*)> onSignalled;
    Platform::Overlapped overlapped;
    std::vector<uint8_t> buffer;
    bool posted = false; // its completion message has gone out
};

} // namespace USB
} // namespace CVN
