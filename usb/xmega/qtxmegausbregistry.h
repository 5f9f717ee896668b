#pragma once

#include "usb/xmega/deviceid.h"

#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// The live XMEGA units of one notifier, by unique id. A unit that re-enumerates (after a
// reboot) keeps its entry and gets its new device object there, so holders of the unique id
// reach it again. A reboot can be announced: until the unit is back, or the entry's reboot
// timer runs out, its removal is not reported. Shared between the notifier's thread, which
// reports arrivals and removals and owns the timers, and threads that wait for a reboot.
template<class T>
class QtXmegaUSBRegistry : public std::enable_shared_from_this<QtXmegaUSBRegistry<T>>
{
public:
    enum class Arrival { New, Known, Returned };
    using TimeoutHandler = std::function<void(const DeviceId& id, std::shared_ptr<T> device)>;

    static std::shared_ptr<QtXmegaUSBRegistry> create()
    {
        return std::shared_ptr<QtXmegaUSBRegistry>(new QtXmegaUSBRegistry);
    }

    // Told on the notifier's thread when a rebooting unit did not come back in time.
    void setTimeoutHandler(TimeoutHandler handler)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_timeoutHandler = std::move(handler);
    }

    bool contains(const DeviceId& id) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries.count(id) != 0;
    }

    // The unit's current device, or null when the registry holds no such unit.
    std::shared_ptr<T> device(const DeviceId& id) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        return it == m_entries.end() ? nullptr : it->second->device;
    }

    bool isRebooting(const DeviceId& id) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        return it != m_entries.end() && it->second->rebooting;
    }

    // On the notifier's thread: the unit has (re)appeared with this device.
    Arrival arrived(const DeviceId& id, std::shared_ptr<T> device)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it == m_entries.end()) {
            auto entry = std::make_shared<Entry>();
            entry->device = std::move(device);
            entry->timer.reset(new QTimer);
            entry->timer->setSingleShot(true);
            std::weak_ptr<QtXmegaUSBRegistry> self = this->shared_from_this();
            QObject::connect(entry->timer.get(), &QTimer::timeout, entry->timer.get(), [self, id] {
                if (auto registry = self.lock())
                    registry->rebootTimedOut(id);
            });
            m_entries.emplace(id, std::move(entry));
            return Arrival::New;
        }
        Entry& entry = *it->second;
        entry.device = std::move(device);
        if (!entry.rebooting)
            return Arrival::Known;
        entry.rebooting = false;
        entry.returned = true;
        entry.timer->stop();
        entry.changed.notify_all();
        return Arrival::Returned;
    }

    // On the notifier's thread: the device went. True when the removal is to be reported
    // (the entry is gone then); false for an unknown device or a unit that is rebooting.
    bool removed(const std::shared_ptr<T>& device, DeviceId* id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->second->device != device)
                continue;
            if (it->second->rebooting)
                return false;
            *id = it->first;
            m_entries.erase(it);
            return true;
        }
        return false;
    }

    // From any thread, before the reboot request goes out: the unit's removal is held back
    // for up to timeoutMs. False when the registry holds no such unit.
    bool announceReboot(const DeviceId& id, int timeoutMs)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it == m_entries.end())
            return false;
        Entry& entry = *it->second;
        entry.rebooting = true;
        entry.returned = false;
        // The timer lives on the notifier's thread. Started there by name, so nothing of ours
        // crosses threads outside the mutex; a timer that runs out for a unit already back,
        // or no longer rebooting, finds nothing to do.
        QMetaObject::invokeMethod(entry.timer.get(), "start", Qt::QueuedConnection,
                                  Q_ARG(int, timeoutMs));
        return true;
    }

    // Takes back an announcement whose reboot request did not go out.
    void cancelReboot(const DeviceId& id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it == m_entries.end())
            return;
        it->second->rebooting = false;
        it->second->changed.notify_all();
        // Stopped in the order of the queued start, so a timer of this announcement cannot
        // run out on a later one.
        QMetaObject::invokeMethod(it->second->timer.get(), "stop", Qt::QueuedConnection);
    }

    // How much later than the waiter the notifier's thread may start the reboot timer.
    static constexpr uint32_t kTimerStartSlackMs = 10000;

    // Waits until the announced reboot of the unit is over: the unit is back or the reboot
    // timer, given limitMs when announced, has run out. The timer starts only when the
    // notifier's thread gets to it, so the wait allows for that too. True when the unit came
    // back; a unit back before the wait began counts.
    bool waitForReturn(const DeviceId& id, uint32_t limitMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it == m_entries.end())
            return false;
        std::shared_ptr<Entry> entry = it->second;
        entry->changed.wait_for(lock, std::chrono::milliseconds(limitMs + kTimerStartSlackMs),
                                [&] { return !entry->rebooting; });
        return !entry->rebooting && entry->returned;
    }

private:
    struct TimerDeleter
    {
        // The timer belongs to the notifier's thread; whoever drops the entry last may not.
        void operator()(QTimer* timer) const { timer->deleteLater(); }
    };

    struct Entry
    {
        std::condition_variable changed;
        std::shared_ptr<T> device;
        bool rebooting = false;
        bool returned = false;
        std::unique_ptr<QTimer, TimerDeleter> timer;
    };

    QtXmegaUSBRegistry() = default;

    void rebootTimedOut(const DeviceId& id)
    {
        TimeoutHandler handler;
        std::shared_ptr<T> device;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_entries.find(id);
            if (it == m_entries.end() || !it->second->rebooting)
                return;
            it->second->rebooting = false;
            it->second->changed.notify_all();
            device = it->second->device;
            m_entries.erase(it);
            handler = m_timeoutHandler;
        }
        if (handler)
            handler(id, device);
    }

    mutable std::mutex m_mutex;
    std::map<DeviceId, std::shared_ptr<Entry>> m_entries;
    TimeoutHandler m_timeoutHandler;
};
