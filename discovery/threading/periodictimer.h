#pragma once

#include "discovery/threading/signal.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A signal without arguments that its own thread emits every period. The first tick comes one
// full period after start; each later one a period after the previous emission returned.
class PeriodicTimer : public Signal<void()>
{
public:
    PeriodicTimer() = default;
    ~PeriodicTimer() override;

    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Does nothing while the timer runs, not even change the period.
    void start(int periodMs);
    // Waits for a running emission, then joins the thread. Safe from several threads at once;
    // throws std::system_error (resource_deadlock_would_occur) from one of the timer's slots.
    void stop();

private:
    void run(int periodMs);

    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_condition;
    bool m_running = false;
    // Serialises start and stop, so only one caller joins and the thread object has one owner.
    std::mutex m_controlLock;
    std::atomic<std::thread::id> m_threadId{};
    // Read between emissions without the lock: a period of zero never waits, so it would never
    // let stop take the lock.
    std::atomic<bool> m_stopRequested{false};
};
