#include "plugins/webview/transport/polltimer.h"

#include <algorithm>

namespace WebViewUsb {

PollTimer::PollTimer(std::shared_ptr<CVN::USB::WaitClock> clock, uint64_t limitMs,
                     uint32_t maxPauseMs, const std::atomic<bool>* cancelled)
    : m_clock(clock ? std::move(clock) : CVN::USB::WaitClock::system())
    , m_start(m_clock->now())
    , m_limitMs(limitMs)
    , m_maxPauseMs(maxPauseMs)
    , m_cancelled(cancelled)
{
}

bool PollTimer::isCancelled() const
{
    return m_cancelled && m_cancelled->load();
}

uint64_t PollTimer::elapsedMs() const
{
    return m_clock->elapsedMs(m_start);
}

bool PollTimer::isExpired() const
{
    return m_limitMs && elapsedMs() >= m_limitMs;
}

bool PollTimer::pause(uint32_t ms)
{
    if (isCancelled() || isExpired())
        return false;
    uint64_t wait = std::min<uint64_t>(ms, m_maxPauseMs);
    if (m_limitMs)
        wait = std::min<uint64_t>(wait, m_limitMs - elapsedMs());
    // Sliced, so a cancel is seen within one slice of a long pause.
    while (wait) {
        const uint64_t slice = m_cancelled ? std::min<uint64_t>(wait, kCancelSliceMs) : wait;
        m_clock->sleep(uint32_t(slice));
        wait -= slice;
        if (isCancelled())
            return false;
    }
    return !isExpired();
}

} // namespace WebViewUsb
