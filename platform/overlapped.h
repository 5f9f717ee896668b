#pragma once

#include "platform/driverport.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace Platform {

// One asynchronous request's completion state, standing where an overlapped structure and
// its manual-reset event would: signalled when the driver ends the request, with the
// result kept for the owner to collect.
class Overlapped final : public IoCompletion
{
public:
    // signalled runs on the completing thread after the result is stored and before any
    // waiter is released, so the owner may not free the object under it.
    explicit Overlapped(std::function<void()> signalled = {});
    ~Overlapped() override;

    void ioCompleted(uint32_t lastError, uint32_t bytesReturned) override;

    bool isSignalled() const;

    // Waits until the request has ended and its signalled hook has run, then gives the
    // result: true with the byte count when the request succeeded.
    bool result(uint32_t* bytesReturned, uint32_t* lastError);

private:
    std::function<void()> m_signalled;
    mutable std::mutex m_mutex;
    std::condition_variable m_finishedChanged;
    bool m_signalledState = false;
    bool m_finished = false;
    uint32_t m_lastError = 0;
    uint32_t m_bytes = 0;
};

} // namespace Platform
