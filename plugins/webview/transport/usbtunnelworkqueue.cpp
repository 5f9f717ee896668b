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

bool USBTunnelWorkQueue::post(Task task, Task dropped)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        m_tasks.push_back(Entry{std::move(task), std::move(dropped)});
    }
    m_changed.notify_all();
    return true;
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
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_stopping)
            break;
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
