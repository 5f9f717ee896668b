#include "discovery/threading/periodictimer.h"

#include <chrono>

namespace {

// A single wait is capped; a longer period simply waits again.
constexpr auto kLongestWait = std::chrono::hours(24 * 10);

} // namespace

PeriodicTimer::~PeriodicTimer()
{
    stop();
}

void PeriodicTimer::start(int periodMs)
{
    std::lock_guard<std::mutex> control(m_controlLock);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_running)
            return;
        m_running = true;
    }
    try {
        m_thread = std::thread(&PeriodicTimer::run, this, periodMs);
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_running = false;
        throw;
    }
}

void PeriodicTimer::stop()
{
    if (m_threadId.load() == std::this_thread::get_id())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    std::lock_guard<std::mutex> control(m_controlLock);
    m_stopRequested.store(true);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_running = false;
    }
    m_condition.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
        m_thread = std::thread();
        m_threadId.store(std::thread::id());
    }
    m_stopRequested.store(false);
}

void PeriodicTimer::run(int periodMs)
{
    using Clock = std::chrono::steady_clock;
    m_threadId.store(std::this_thread::get_id());
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        const auto period = std::chrono::milliseconds(periodMs > 0 ? periodMs : 0);
        const auto deadline = Clock::now() + period;
        for (auto now = Clock::now(); m_running && !m_stopRequested.load() && now < deadline;
             now = Clock::now())
            m_condition.wait_until(lock, std::min<Clock::time_point>(deadline, now + kLongestWait));
        if (!m_running || m_stopRequested.load())
            return;
        // Still under the timer lock, so stop waits for this emission to return.
        emit();
    }
}
