#include "plugins/shared/updatethread.h"

UpdateThread::UpdateThread()
    : QThread(nullptr)
{
}

UpdateThread::~UpdateThread()
{
    waitForEnd();
}

void UpdateThread::waitForEnd()
{
    wait();
    m_runsEnded.load(std::memory_order_acquire);
}

bool UpdateThread::startUpdate()
{
    if (m_running.exchange(true))
        return false;
    // A run that has reported its end may still be leaving its thread.
    waitForEnd();
    start(QThread::InheritPriority);
    return true;
}
