#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace CVN {
namespace USB {

// The time that device protocols wait by: the current time and pauses between
// polls. The product uses the system clock; tests hand in a clock whose pauses
// only move its own time.
class WaitClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // What one look at a polled condition found.
    enum class Poll {
        Ready,       // done: the poll ends
        Again,       // not yet: look again after the interval
        AgainAtOnce, // progress was made: look again without a pause
        Failed,      // the look itself failed: the poll ends
    };
    // How a poll ended.
    enum class PollResult { Ready, Failed, TimedOut };
    // Whether the first look comes at once or after one interval.
    enum class FirstLook { Now, AfterInterval };
    // A limit that never runs out.
    static constexpr uint32_t kForever = 0xFFFFFFFF;

    virtual ~WaitClock() = default;
    virtual TimePoint now() const;
    virtual void sleep(uint32_t ms);

    // Milliseconds from since to now.
    uint64_t elapsedMs(TimePoint since) const;

    // Looks at condition until it is Ready or Failed, pausing intervalMs between looks. Once
    // limitMs have passed since the start, a look that finds the condition not yet met ends the
    // poll with TimedOut (limit 0: one look; kForever: no limit).
    PollResult pollUntil(uint32_t limitMs, uint32_t intervalMs,
                         const std::function<Poll()>& condition, FirstLook first = FirstLook::Now);

    static std::shared_ptr<WaitClock> system();
};

} // namespace USB
} // namespace CVN
