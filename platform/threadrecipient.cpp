#include "platform/threadrecipient.h"

#include <future>

namespace Platform {

ThreadRecipient::ThreadRecipient(MessageHandler handler)
    : m_handler(std::move(handler))
{
}

ThreadRecipient::~ThreadRecipient()
{
    quit();
}

void ThreadRecipient::setMessageHandler(MessageHandler handler)
{
    m_handler = std::move(handler);
}

bool ThreadRecipient::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running || m_thread.joinable())
        return false;
    m_running = true;
    m_quitting = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void ThreadRecipient::quit()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quitting = true;
        m_running = false;
        dropped.swap(m_queue);
        m_queueChanged.notify_all();
    }
    dropped.clear();
    if (isOwnerThread())
        return;
    if (m_thread.joinable())
        m_thread.join();
}

bool ThreadRecipient::isOwnerThread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::this_thread::get_id() == m_ownerId;
}

bool ThreadRecipient::post(std::function<void()> work)
{
    if (!work)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_running)
        return false;
    m_queue.push_back(std::move(work));
    m_queueChanged.notify_one();
    return true;
}

bool ThreadRecipient::postMessage(Message message)
{
    return post([this, message = std::move(message)] {
        intptr_t result = 0;
        if (m_handler)
            m_handler(message, &result);
    });
}

bool ThreadRecipient::invoke(const std::function<void()>& work)
{
    if (isOwnerThread()) {
        work();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    // The queued item holds the only reference, so dropping it breaks the promise.
    if (!post([work, done = std::move(done)] {
            work();
            done->set_value();
        }))
        return false;
    // Work dropped by quit() breaks the promise instead of leaving us waiting.
    try {
        finished.get();
    } catch (const std::future_error&) {
        return false;
    }
    return true;
}

void ThreadRecipient::run()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ownerId = std::this_thread::get_id();
    }
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_queueChanged.wait(lock, [this] { return m_quitting || !m_queue.empty(); });
            if (m_quitting)
                return;
            work = std::move(m_queue.front());
            m_queue.pop_front();
        }
        work();
    }
}

} // namespace Platform
