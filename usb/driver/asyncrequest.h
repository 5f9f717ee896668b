#pragma once

#include "platform/overlapped.h"
#include "usb/driver/iusbinterface.h"

#include <atomic>
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
    AsyncRequest(CVNUsbCompletion completion, void* context, uint32_t length,
                 std::function<void(AsyncRequest*)> signalled)
        : completion(completion)
        , context(context)
        , length(length)
        , sequence(nextSequence())
        , onSignalled(std::move(signalled))
        , overlapped([this] { onSignalled(this); })
    {
    }

    // Never reused in the process's life, unlike the request's address: a completion message
    // still queued for a request that is gone cannot name a newer one.
    CVNUsbEvent event() const { return reinterpret_cast<CVNUsbEvent>(uintptr_t(sequence)); }

    CVNUsbCompletion completion;
    void* context;
    uint32_t length; // bytes asked for: the most the driver may report
    uint64_t sequence;
    std::function<void(AsyncRequest*)> onSignalled;
    Platform::Overlapped overlapped;
    std::vector<uint8_t> buffer;
    bool posted = false; // its completion message has gone out

private:
    static uint64_t nextSequence()
    {
        static std::atomic<uint64_t> next{1};
        return next++;
    }
};

} // namespace USB
} // namespace CVN
