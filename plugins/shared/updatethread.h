#pragma once

#include <QThread>

#include <atomic>

// A thread that runs one firmware update at a time. The subclass's run() calls finishRun()
// before it reports its end and endRun() as its very last step; waitForEnd() pairs with the
// latter, so what a run did happens before whatever follows the wait, in terms thread tools
// can see (they do not see inside Qt's own wait).
class UpdateThread : public QThread
{
    Q_OBJECT
public:
    ~UpdateThread() override;

    bool isUpdating() const { return m_running.load(); }
    // Starts a run at the calling thread's priority unless one is under way; false when one
    // was.
    bool startUpdate();
    // Waits until the thread has ended; what the run did is then seen by the caller.
    void waitForEnd();

protected:
    UpdateThread();

    // From run(): under way, idle again (before the end is told, so that whoever hears it can
    // start the next run), and ended.
    void beginRun() { m_running = true; }
    void finishRun() { m_running = false; }
    void endRun() { m_runsEnded.fetch_add(1, std::memory_order_release); }

private:
    std::atomic<bool> m_running{false};
    std::atomic<int> m_runsEnded{0};
};
