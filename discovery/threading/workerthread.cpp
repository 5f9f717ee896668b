#include "discovery/threading/workerthread.h"

#include <system_error>

WorkerThread::WorkerThread()
{
    m_thread = std::thread(&WorkerThread::run, this);
    m_threadId.store(m_thread.get_id());
}

WorkerThread::~WorkerThread()
{
    stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.clear();
}

void WorkerThread::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop)
            return;
        m_tasks.push_back(std::move(task));
    }
    m_condition.notify_one();
}

void WorkerThread::stop()
{
    if (m_threadId.load() == std::this_thread::get_id())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    std::lock_guard<std::mutex> control(m_controlLock);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_condition.notify_one();
    if (m_thread.joinable()) {
        m_thread.join();
        m_thread = std::thread();
        m_threadId.store(std::thread::id());
    }
}

void WorkerThread::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_condition.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
        if (m_stop)
            return;
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
}
