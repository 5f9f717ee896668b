#include "sim/usbbus/workqueue.h"

namespace Sim {

WorkQueue::WorkQueue()
    : m_thread([this] { run(); })
{
}

WorkQueue::~WorkQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    m_thread.join();
}

void WorkQueue::post(uint32_t delayMs, std::function<void()> work)
{
    postAt(Clock::now() + std::chrono::milliseconds(delayMs), std::move(work));
}

void WorkQueue::postAt(Clock::time_point due, std::function<void()> work)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_work.emplace(due, std::move(work));
    m_changed.notify_all();
}

void WorkQueue::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_work.empty()) {
            m_changed.wait(lock);
            continue;
        }
        auto due = m_work.begin()->first;
        if (Clock::now() < due) {
            m_changed.wait_until(lock, due);
            continue;
        }
        std::function<void()> work = std::move(m_work.begin()->second);
        m_work.erase(m_work.begin());
        lock.unlock();
        work();
        work = nullptr;
        lock.lock();
    }
}

} // namespace Sim
