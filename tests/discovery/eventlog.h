#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// Collects values from whichever thread reports them; tests wait on it instead of sleeping.
template<typename T> class EventLog
{
public:
    void add(T value)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_values.push_back(std::move(value));
        }
        m_changed.notify_all();
    }

    std::vector<T> all() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

    size_t size() const { return all().size(); }

    bool waitFor(size_t count, int timeoutMs = 10000)
    {
        return waitUntil([count](const std::vector<T>& v) { return v.size() >= count; }, timeoutMs);
    }

    bool waitUntil(const std::function<bool(const std::vector<T>&)>& done, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return done(m_values); });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<T> m_values;
};
