#include "usb/driver/waitclock.h"

#include <thread>

namespace CVN {
namespace USB {

WaitClock::TimePoint WaitClock::now() const
{
    return std::chrono::steady_clock::now();
}

void WaitClock::sleep(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t WaitClock::elapsedMs(TimePoint since) const
{
    const auto d = now() - since;
    return d.count() < 0
               ? 0
               : uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

WaitClock::PollResult WaitClock::pollUntil(uint32_t limitMs, uint32_t intervalMs,
                                           const std::function<Poll()>& condition, FirstLook first)
{
    const TimePoint started = now();
    if (first == FirstLook::AfterInterval)
        sleep(intervalMs);
    for (;;) {
        const Poll found = condition();
        if (found == Poll::Ready)
            return PollResult::Ready;
        if (found == Poll::Failed)
            return PollResult::Failed;
        if (limitMs != kForever && elapsedMs(started) >= limitMs)
            return PollResult::TimedOut;
        if (found == Poll::Again)
            sleep(intervalMs);
    }
}

std::shared_ptr<WaitClock> WaitClock::system()
{
    static const std::shared_ptr<WaitClock> clock = std::make_shared<WaitClock>();
    return clock;
}

} // namespace USB
} // namespace CVN
