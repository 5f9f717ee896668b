#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

// Runs posted tasks one at a time, in posting order, on its own thread.
class WorkerThread
{
public:
    // Starts the thread; throws std::system_error when it cannot.
    WorkerThread();
    // Stops; tasks still queued are dropped without running.
    virtual ~WorkerThread();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Dropped once the worker has stopped.
    void post(std::function<void()> task);
    // Ends the thread after the running task; queued tasks never run. Throws std::system_error
    // (resource_deadlock_would_occur) from one of the worker's own tasks.
    void stop();

private:
    void run();

    std::mutex m_mutex;
    bool m_stop = false;
    std::condition_variable m_condition;
    std::list<std::function<void()>> m_tasks;
    std::thread m_thread;
    // Serialises stop, so only one caller joins.
    std::mutex m_controlLock;
    std::atomic<std::thread::id> m_threadId{};
};
