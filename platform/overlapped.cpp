#include "platform/overlapped.h"

namespace Platform {

Overlapped::Overlapped(std::function<void()> signalled)
    : m_signalled(std::move(signalled))
{
}

Overlapped::~Overlapped() = default;

void Overlapped::ioCompleted(uint32_t lastError, uint32_t bytesReturned)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastError = lastError;
        m_bytes = bytesReturned;
        m_signalledState = true;
    }
    if (m_signalled)
        m_signalled();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    // Under the lock: a released waiter may destroy the object right after.
    m_finishedChanged.notify_all();
}

bool Overlapped::isSignalled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalledState;
}

bool Overlapped::result(uint32_t* bytesReturned, uint32_t* lastError)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finishedChanged.wait(lock, [this] { return m_finished; });
    if (bytesReturned)
        *bytesReturned = m_lastError == 0 ? m_bytes : 0;
    if (lastError)
        *lastError = m_lastError;
    return m_lastError == 0;
}

} // namespace Platform
