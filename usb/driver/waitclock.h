#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace CVN {
namespace USB {

// The time that device protocols wait by: the current time and pauses between polls. The
// product uses the system clock; tests hand in a clock whose pauses only move its own time.
class WaitClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~WaitClock() = default;
    virtual TimePoint now() const;
    virtual void sleep(uint32_t ms);

    // Milliseconds from since to now.
    uint64_t elapsedMs(TimePoint since) const;

    static std::shared_ptr<WaitClock> system();
};

} // namespace USB
} // namespace CVN
