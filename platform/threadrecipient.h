#pragma once

#include "platform/recipient.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Platform {

// A recipient whose owner is a thread of its own with a message queue, for code that wants
// device-change messages away from the GUI thread. Work runs in the order it was posted.
class ThreadRecipient final : public Recipient
{
public:
    explicit ThreadRecipient(MessageHandler handler = {});
    // Quits and joins the thread; work still queued is dropped.
    ~ThreadRecipient() override;

    // Sets the handler before start, or from the owner thread.
    void setMessageHandler(MessageHandler handler);

    bool start();
    // Stops taking work, lets the running item finish and joins. Safe to call twice; from
    // the owner thread itself it only stops the loop.
    void quit();

    bool isOwnerThread() const;

    bool post(std::function<void()> work) override;
    bool postMessage(Message message) override;

    // Runs work on the owner thread and waits for it; runs it at once when called there.
    // False when the thread is not running.
    bool invoke(const std::function<void()>& work);

private:
    void run();

    MessageHandler m_handler;
    mutable std::mutex m_mutex;
    std::condition_variable m_queueChanged;
    std::deque<std::function<void()>> m_queue;
    bool m_running = false;
    bool m_quitting = false;
    std::thread m_thread;
    std::thread::id m_ownerId;
};

} // namespace Platform
