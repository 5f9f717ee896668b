#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

// Qt defines "emit" as an empty macro; keep it out of these declarations. Sources that call
// Signal::emit build with QT_NO_EMIT (and write Q_EMIT for Qt's own signals).
#pragma push_macro("emit")
#undef emit

namespace detail {

// Slots run on the emitting thread, inside the emit call.
template<typename Signature> struct ImmediateExecutor;

template<typename... A> struct ImmediateExecutor<void(A...)>
{
    template<typename Slot, typename... Args> static void run(const Slot& slot, Args&&... args)
    {
        Slot copy = slot;
        copy(std::forward<Args>(args)...);
    }
};

template<typename Executor, typename Function> class SafeSignalRoot
{
public:
    virtual ~SafeSignalRoot()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slots.clear();
    }

protected:
    bool insideOwnEmission() const { return m_emitter.load() == std::this_thread::get_id(); }

    std::unordered_map<int, Function> m_slots;
    std::atomic<int> m_nextId{0};
    std::mutex m_mutex;
    // The thread running emit, so that a slot can disconnect without taking the mutex again.
    std::atomic<std::thread::id> m_emitter{};
    // Ids a slot disconnected during the running emission; touched by the emitting thread only.
    std::vector<int> m_dropped;
};

template<typename Executor, typename... A>
class SafeSignalBase : public SafeSignalRoot<Executor, std::function<void(A...)>>
{
    using Root = SafeSignalRoot<Executor, std::function<void(A...)>>;

public:
    ~SafeSignalBase() override = default;

    // Returns the connection id: 0 for the first connection, then 1, 2, ...; never reused.
    int connect(std::function<void(A...)> slot)
    {
        refuseReentry();
        std::lock_guard<std::mutex> lock(this->m_mutex);
        const int id = this->m_nextId.fetch_add(1);
        this->m_slots.emplace(id, std::move(slot));
        return id;
    }

    // Removes one connection. From another thread this waits for a running emission to end, so
    // once it returns the slot is neither running nor called again. From inside a slot of this
    // signal it takes effect at once for the rest of the emission.
    bool disconnect(int id)
    {
        if (this->insideOwnEmission()) {
            if (this->m_slots.count(id) == 0 || isDropped(id))
                return false;
            this->m_dropped.push_back(id);
            return true;
        }
        std::lock_guard<std::mutex> lock(this->m_mutex);
        return this->m_slots.erase(id) > 0;
    }

    // Calls every slot in the table's own order, holding the mutex until the last returns.
    void emit(A... args)
    {
        refuseReentry();
        std::lock_guard<std::mutex> lock(this->m_mutex);
        if (this->m_slots.empty())
            return;
        EmissionScope scope(*this);
        for (const auto& entry : this->m_slots) {
            if (!this->m_dropped.empty() && isDropped(entry.first))
                continue;
            Executor::run(entry.second, args...);
        }
    }

private:
    // Marks the emitting thread and applies disconnections made by slots, even when a slot
    // throws.
    struct EmissionScope
    {
        explicit EmissionScope(SafeSignalBase& s)
            : signal(s)
        {
            signal.m_emitter.store(std::this_thread::get_id());
        }
        ~EmissionScope()
        {
            for (int id : signal.m_dropped)
                signal.m_slots.erase(id);
            signal.m_dropped.clear();
            signal.m_emitter.store(std::thread::id());
        }
        SafeSignalBase& signal;
    };

    bool isDropped(int id) const
    {
        for (int dropped : this->m_dropped) {
            if (dropped == id)
                return true;
        }
        return false;
    }

    // The mutex is not recursive: connecting to or emitting the signal from one of its own
    // slots would hang the thread, so it is refused instead.
    void refuseReentry() const
    {
        if (this->insideOwnEmission())
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
};

} // namespace detail

template<typename Signature> struct Signal;

// A thread-safe list of callbacks, called synchronously on the emitting thread.
template<typename... A>
struct Signal<void(A...)>
    : public detail::SafeSignalBase<detail::ImmediateExecutor<void(A...)>, A...>
{
    ~Signal() override = default;
};

#pragma pop_macro("emit")
