#include "plugins/webview/transport/usbtunnelworkqueue.h"

namespace CVN {
namespace USBTunnel {

USBTunnelWorkQueue::~USBTunnelWorkQueue()
{
    stop();
}

void USBTunnelWorkQueue::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started || m_stopping)
        return;
    m_started = true;
    m_thread = std::thread([this] { run(); });
    m_threadId = m_thread.get_id();
}

// Posts wake the thread under the lock: a poster on another thread (a USB completion) must
// not touch the queue once a stop that follows may have destroyed it.
bool USBTunnelWorkQueue::post(Task task, Task dropped)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return false;
    m_tasks.push_back(Entry{std::move(task), std::move(dropped)});
    m_changed.notify_all();
    return true;
}

bool USBTunnelWorkQueue::postAfter(std::chrono::milliseconds delay, Task task)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return false;
    m_delayed.emplace(std::chrono::steady_clock::now() + delay, std::move(task));
    m_changed.notify_all();
    return true;
}

// Under the lock: moves the delayed tasks whose time has come behind the queued ones.
void USBTunnelWorkQueue::queueDue()
{
    const auto now = std::chrono::steady_clock::now();
    while (!m_delayed.empty() && m_delayed.begin()->first <= now) {
        m_tasks.push_back(Entry{std::move(m_delayed.begin()->second), {}});
        m_delayed.erase(m_delayed.begin());
    }
}

void USBTunnelWorkQueue::stop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_changed.notify_all();
    if (m_thread.joinable()) {
        if (std::this_thread::get_id() == m_threadId) {
            // Stopped from one of its own tasks: the thread drops the rest as it leaves.
            return;
        }
        lock.unlock();
        m_thread.join();
        lock.lock();
    }
    dropQueued(lock);
}

bool USBTunnelWorkQueue::isWorkThread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started && std::this_thread::get_id() == m_threadId;
}

void USBTunnelWorkQueue::waitForWork(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout, [this] { return m_stopping || !m_tasks.empty(); });
}

void USBTunnelWorkQueue::dropQueued(std::unique_lock<std::mutex>& lock)
{
    m_delayed.clear();
    while (!m_tasks.empty()) {
        Entry entry = std::move(m_tasks.front());
        m_tasks.pop_front();
        if (entry.dropped) {
            lock.unlock();
            entry.dropped();
            lock.lock();
        }
    }
}

void USBTunnelWorkQueue::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] { return m_stopping || !m_tasks.empty(); };
    for (;;) {
        queueDue();
        if (m_delayed.empty())
            m_changed.wait(lock, ready);
        else if (!ready())
            m_changed.wait_until(lock, m_delayed.begin()->first, ready);
        if (m_stopping)
            break;
        queueDue();
        if (m_tasks.empty())
            continue;
        Entry entry = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        entry.task();
        entry = Entry{};
        lock.lock();
    }
    dropQueued(lock);
}

} // namespace USBTunnel
} // namespace CVN
