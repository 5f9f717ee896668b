#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace Sim {

// One worker thread running work at its due time, in order of due time and then of posting.
class WorkQueue
{
public:
    WorkQueue();
    ~WorkQueue();

    using Clock = std::chrono::steady_clock;

    void post(uint32_t delayMs, std::function<void()> work);
    void postAt(Clock::time_point due, std::function<void()> work);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::multimap<Clock::time_point, std::function<void()>> m_work;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace Sim
