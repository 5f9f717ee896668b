#pragma once

#include "platform/recipient.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace Platform {

// A recipient whose owner is a thread of its own with a message queue, for code that wants
// device-change messages away from the GUI thread. Work runs in the order it was posted.
class ThreadRecipient final : public Recipient
{
public:
    explicit ThreadRecipient(MessageHandler handler = {});
    // Quits and joins the thread; work still queued is dropped. From the owner thread itself
    // (work that destroys its recipient) the thread is let go and ends after that work.
    ~ThreadRecipient() override;

    // Sets the handler before start, or from the owner thread.
    void setMessageHandler(MessageHandler handler);

    bool start();
    // Stops taking work, lets the running item finish and joins. Safe to call twice; from
    // the owner thread itself it only stops the loop.
    void quit();

    // True only on the running thread of this recipient (never after quit).
    bool isOwnerThread() const;

    bool post(std::function<void()> work) override;
    bool postMessage(Message message) override;

    // Runs work on the owner thread and waits for it; runs it at once when called there.
    // False when the thread is not running.
    bool invoke(const std::function<void()>& work);

private:
    // What the thread uses: shared with it, so that it may outlive the recipient when the
    // recipient is destroyed by work running on it.
    struct Loop
    {
        std::mutex mutex;
        std::condition_variable queueChanged;
        std::deque<std::function<void()>> queue;
        bool running = false;
        bool quitting = false;
        uint64_t generation = 0; // one per start
        std::thread::id ownerId;
    };

    static void run(const std::shared_ptr<Loop>& loop, uint64_t generation);

    MessageHandler m_handler;
    std::shared_ptr<Loop> m_loop;
    std::thread m_thread;
};

} // namespace Platform
