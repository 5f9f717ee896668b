#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace CVN {
namespace USBTunnel {

// One thread running tasks one at a time in posting order. A task may carry a second
// callable that is told instead when the queue stops before the task ran, so whoever waits
// on the task's outcome always hears of it.
class USBTunnelWorkQueue
{
public:
    using Task = std::function<void()>;

    USBTunnelWorkQueue() = default;
    ~USBTunnelWorkQueue();
    USBTunnelWorkQueue(const USBTunnelWorkQueue&) = delete;
    USBTunnelWorkQueue& operator=(const USBTunnelWorkQueue&) = delete;

    void start();
    // False after stop(); neither callable is then kept nor told.
    bool post(Task task, Task dropped = {});
    // Queues the task once the delay has passed. A stop before then forgets it untold: a
    // delayed task is a time-out, and a stopped queue has nothing left to time out.
    bool postAfter(std::chrono::milliseconds delay, Task task);
    // May be called from a task (the queue then ends when that task returns), but the
    // queue must not be destroyed by one of its own tasks.
    // Ends after the running task; every task still queued gets its dropped callable told
    // (on this thread, or on the work thread when it stops itself).
    void stop();
    bool isWorkThread() const;
    // On the work thread: waits until a task is queued, the queue stops or the time passes.
    void waitForWork(std::chrono::milliseconds timeout);

private:
    struct Entry
    {
        Task task;
        Task dropped;
    };
    void run();
    void queueDue();
    void dropQueued(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_tasks;
    std::multimap<std::chrono::steady_clock::time_point, Task> m_delayed;
    bool m_stopping = false;
    bool m_started = false;
    std::thread m_thread;
    std::thread::id m_threadId;
};

} // namespace USBTunnel
} // namespace CVN
