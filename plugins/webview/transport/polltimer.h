#pragma once

#include "usb/driver/waitclock.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace WebViewUsb {

// One poll loop's budget: a named limit on the whole loop and a cap on each pause, with an
// optional cancel flag looked at before and after every pause.
//
//     PollTimer poll(clock, kLimitMs, kMaxPauseMs, cancelled);
//     while (!done()) {
//         if (!poll.pause(device's wait))   // false: cancelled or out of time
//             throw ...;
//     }
class PollTimer
{
public:
    static constexpr uint32_t kCancelSliceMs = 100;

    // limitMs 0: no limit on the loop.
    PollTimer(std::shared_ptr<CVN::USB::WaitClock> clock, uint64_t limitMs, uint32_t maxPauseMs,
              const std::atomic<bool>* cancelled = nullptr);

    // Waits min(ms, the cap, what is left of the limit). False without waiting when the loop
    // is cancelled or its time is up, and false when it ends so during the pause.
    bool pause(uint32_t ms);

    bool isCancelled() const;
    bool isExpired() const;
    uint64_t elapsedMs() const;

private:
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
    CVN::USB::WaitClock::TimePoint m_start;
    uint64_t m_limitMs;
    uint32_t m_maxPauseMs;
    const std::atomic<bool>* m_cancelled;
};

} // namespace WebViewUsb
