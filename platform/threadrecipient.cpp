#include "platform/threadrecipient.h"

#include "platform/happensbefore.h"

#include <future>

namespace Platform {

ThreadRecipient::ThreadRecipient(MessageHandler handler)
    : m_handler(std::move(handler))
    , m_loop(std::make_shared<Loop>())
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
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    if (m_loop->running || m_thread.joinable())
        return false;
    m_loop->running = true;
    m_loop->quitting = false;
    // A thread let go by quit() on itself may still be finishing its item: it sees the new
    // generation and ends instead of serving the new queue.
    m_thread = std::thread(&ThreadRecipient::run, m_loop, ++m_loop->generation);
    return true;
}

void ThreadRecipient::quit()
{
    std::deque<std::function<void()>> dropped;
    bool ownThread = false;
    {
        std::lock_guard<std::mutex> lock(m_loop->mutex);
        m_loop->quitting = true;
        m_loop->running = false;
        ownThread = std::this_thread::get_id() == m_loop->ownerId;
        // The system reuses the id of a thread that has ended.
        m_loop->ownerId = std::thread::id();
        dropped.swap(m_loop->queue);
        m_loop->queueChanged.notify_all();
    }
    dropped.clear();
    if (!m_thread.joinable())
        return;
    // The loop holds its own share of the state and stops after the running item.
    if (ownThread)
        m_thread.detach();
    else
        m_thread.join();
}

bool ThreadRecipient::isOwnerThread() const
{
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    return m_loop->running && std::this_thread::get_id() == m_loop->ownerId;
}

bool ThreadRecipient::post(std::function<void()> work)
{
    if (!work)
        return false;
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    if (!m_loop->running)
        return false;
    // Ordered by the mutex already; said again for builds whose locks the sanitizer misses.
    happensBefore(m_loop.get());
    m_loop->queue.push_back(std::move(work));
    m_loop->queueChanged.notify_one();
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

void ThreadRecipient::run(const std::shared_ptr<Loop>& loop, uint64_t generation)
{
    auto over = [&] { return loop->quitting || loop->generation != generation; };
    {
        std::lock_guard<std::mutex> lock(loop->mutex);
        if (over())
            return;
        loop->ownerId = std::this_thread::get_id();
    }
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(loop->mutex);
            loop->queueChanged.wait(lock, [&] { return over() || !loop->queue.empty(); });
            if (over())
                return;
            work = std::move(loop->queue.front());
            loop->queue.pop_front();
        }
        happensAfter(loop.get());
        // May destroy the recipient: only the loop's own state is used after it.
        work();
    }
}

} // namespace Platform
