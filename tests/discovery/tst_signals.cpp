#include "discovery/threading/periodictimer.h"
#include "discovery/threading/signal.h"
#include "discovery/threading/workerthread.h"

#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace {

// Counts events and lets a test wait for a number of them without sleeping blindly.
class Counter
{
public:
    void add()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_count;
            m_times.push_back(std::chrono::steady_clock::now());
        }
        m_changed.notify_all();
    }
    bool waitFor(int count, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_count >= count; });
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    std::vector<std::chrono::steady_clock::time_point> times()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_times;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
    std::vector<std::chrono::steady_clock::time_point> m_times;
};

// True once the worker has stopped: a task posted then is dropped at once, so nothing else
// holds the probe.
bool workerStopped(WorkerThread& worker)
{
    auto probe = std::make_shared<int>(0);
    worker.post([probe] {});
    return probe.use_count() == 1;
}

} // namespace

class TestSignals : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void connectionIdsCountUp();
    void everySlotGetsItsOwnCopyOfValueArguments();
    void emptySlotThrowsAndReleasesTheSignal();
    void disconnectFromAnotherThreadWaitsForTheRunningSlot();
    void disconnectInsideEmission();
    void reentryIsRefusedNotDeadlocked();
    void timerTicksEveryPeriodUntilStopped();
    void startOnRunningTimerKeepsItsPeriod();
    void timerStopRules();
    void workerRunsTasksInOrder();
    void stopDropsQueuedTasks();
    void destructionFreesQueuedTasksUnrun();
    void workerCannotStopItself();
};

void TestSignals::connectionIdsCountUp()
{
    Signal<void(int)> signal;
    signal.emit(1); // no slots: returns at once
    QCOMPARE(signal.connect([](int) {}), 0);
    QCOMPARE(signal.connect([](int) {}), 1);
    QVERIFY(signal.disconnect(0));
    QVERIFY(!signal.disconnect(0));
    QCOMPARE(signal.connect([](int) {}), 2);
}

void TestSignals::everySlotGetsItsOwnCopyOfValueArguments()
{
    Signal<void(std::string, const std::string&)> signal;
    std::vector<std::string> seen;
    const std::string shared = "shared";
    const std::string* sharedSeen = nullptr;
    for (int i = 0; i < 3; ++i) {
        signal.connect([&](std::string text, const std::string& ref) {
            seen.push_back(text);
            text += "!"; // must not reach the next slot
            sharedSeen = &ref;
        });
    }
    signal.emit("host.local.", shared);
    QCOMPARE(seen, std::vector<std::string>(3, "host.local."));
    QCOMPARE(sharedSeen, &shared);
}

void TestSignals::emptySlotThrowsAndReleasesTheSignal()
{
    Signal<void()> signal;
    signal.connect(std::function<void()>());
    QVERIFY_THROWS_EXCEPTION(std::bad_function_call, signal.emit());
    // The mutex was released on the way out: connecting again does not hang.
    QCOMPARE(signal.connect([] {}), 1);
}

void TestSignals::disconnectFromAnotherThreadWaitsForTheRunningSlot()
{
    Signal<void()> signal;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> slotRunning{false};
    std::atomic<int> calls{0};
    const int id = signal.connect([&] {
        slotRunning = true;
        if (calls++ == 0) {
            entered.set_value();
            released.wait();
        }
        slotRunning = false;
    });
    std::thread emitter([&] { signal.emit(); });
    entered.get_future().wait();

    std::atomic<bool> disconnected{false};
    std::atomic<bool> slotRanAfterDisconnect{true};
    std::thread disconnecter([&] {
        disconnected = signal.disconnect(id);
        // Once disconnect returns, the slot has finished.
        slotRanAfterDisconnect = slotRunning.load();
    });
    QVERIFY(!disconnected);
    release.set_value();
    disconnecter.join();
    emitter.join();
    QVERIFY(disconnected);
    QVERIFY(!slotRanAfterDisconnect);
    signal.emit();
    QCOMPARE(calls.load(), 1);
}

void TestSignals::disconnectInsideEmission()
{
    Signal<void()> signal;
    std::vector<int> calls(4, 0);
    std::vector<int> ids(4);
    for (int i = 0; i < 4; ++i) {
        ids[size_t(i)] = signal.connect([&, i] {
            ++calls[size_t(i)];
            // The first slot to run drops every other one; each of them is then skipped.
            if (calls[size_t(i)] == 1 && std::accumulate(calls.begin(), calls.end(), 0) == 1) {
                for (int other = 0; other < 4; ++other) {
                    if (other != i)
                        QVERIFY(signal.disconnect(ids[size_t(other)]));
                }
                QVERIFY(!signal.disconnect(ids[size_t((i + 1) % 4)]));
                QVERIFY(signal.disconnect(ids[size_t(i)]));
            }
        });
    }
    signal.emit();
    QCOMPARE(std::accumulate(calls.begin(), calls.end(), 0), 1);
    signal.emit();
    QCOMPARE(std::accumulate(calls.begin(), calls.end(), 0), 1);
    QCOMPARE(signal.connect([] {}), 4);
}

void TestSignals::reentryIsRefusedNotDeadlocked()
{
    Signal<void(int)> signal;
    int refused = 0;
    signal.connect([&](int depth) {
        try {
            signal.connect([](int) {});
        } catch (const std::system_error& e) {
            refused += e.code() == std::errc::resource_deadlock_would_occur;
        }
        try {
            signal.emit(depth + 1);
        } catch (const std::system_error& e) {
            refused += e.code() == std::errc::resource_deadlock_would_occur;
        }
    });
    signal.emit(0);
    QCOMPARE(refused, 2);
}

void TestSignals::timerTicksEveryPeriodUntilStopped()
{
    Counter ticks;
    PeriodicTimer timer;
    timer.connect([&] { ticks.add(); });
    const auto started = std::chrono::steady_clock::now();
    const auto period = std::chrono::milliseconds(20);
    timer.start(int(period.count()));
    QVERIFY(ticks.waitFor(3));
    timer.stop();
    const int atStop = ticks.count();
    const auto times = ticks.times();
    QVERIFY(times[0] - started >= period);
    for (size_t i = 1; i < times.size(); ++i)
        QVERIFY(times[i] - times[i - 1] >= period);

    // A stopped timer starts again.
    timer.start(1);
    QVERIFY(ticks.waitFor(atStop + 1));
    timer.stop();
}

void TestSignals::startOnRunningTimerKeepsItsPeriod()
{
    Counter ticks;
    PeriodicTimer timer;
    timer.connect([&] { ticks.add(); });
    timer.start(60 * 60 * 1000);
    timer.start(1);
    QVERIFY(!ticks.waitFor(1, std::chrono::milliseconds(50)));
    timer.stop();

    timer.start(0);
    QVERIFY(ticks.waitFor(5));
}

void TestSignals::timerStopRules()
{
    PeriodicTimer idle;
    idle.stop(); // never started: returns at once

    // stop waits for a running emission and no tick follows it.
    PeriodicTimer timer;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> ticks{0};
    std::atomic<bool> inSlot{false};
    int selfStop = 0;
    timer.connect([&] {
        inSlot = true;
        if (ticks++ == 0) {
            try {
                timer.stop();
            } catch (const std::system_error& e) {
                selfStop += e.code() == std::errc::resource_deadlock_would_occur;
            }
            entered.set_value();
            released.wait();
        }
        inSlot = false;
    });
    timer.start(0);
    entered.get_future().wait();
    std::atomic<bool> slotRunningAfterStop{true};
    std::thread stopper([&] {
        timer.stop();
        slotRunningAfterStop = inSlot.load();
    });
    release.set_value();
    stopper.join();
    QVERIFY(!slotRunningAfterStop);
    const int afterStop = ticks;
    timer.stop();
    QCOMPARE(ticks.load(), afterStop);
    QCOMPARE(selfStop, 1);
}

void TestSignals::workerRunsTasksInOrder()
{
    WorkerThread worker;
    std::vector<int> order;
    std::thread::id ranOn;
    std::promise<void> done;
    for (int i = 0; i < 50; ++i)
        worker.post([&, i] {
            order.push_back(i);
            ranOn = std::this_thread::get_id();
        });
    worker.post([&] { done.set_value(); });
    done.get_future().wait();
    QCOMPARE(order.size(), size_t(50));
    QVERIFY(std::is_sorted(order.begin(), order.end()));
    QVERIFY(ranOn != std::this_thread::get_id());
}

void TestSignals::stopDropsQueuedTasks()
{
    WorkerThread worker;
    std::promise<void> entered;
    std::promise<void> release;
    worker.post([&] {
        entered.set_value();
        release.get_future().wait();
    });
    entered.get_future().wait();
    std::atomic<int> ran{0};
    for (int i = 0; i < 3; ++i)
        worker.post([&] { ++ran; });

    std::thread stopper([&] { worker.stop(); });
    while (!workerStopped(worker))
        std::this_thread::yield();
    release.set_value();
    stopper.join();
    QCOMPARE(ran.load(), 0);
    worker.post([&] { ++ran; });
    QCOMPARE(ran.load(), 0);
}

void TestSignals::destructionFreesQueuedTasksUnrun()
{
    auto* worker = new WorkerThread;
    std::promise<void> entered;
    std::promise<void> release;
    worker->post([&] {
        entered.set_value();
        release.get_future().wait();
    });
    entered.get_future().wait();
    auto captured = std::make_shared<int>(0);
    for (int i = 0; i < 3; ++i)
        worker->post([captured] { ++*captured; });
    QCOMPARE(captured.use_count(), long(4));

    std::thread destroyer([worker] { delete worker; });
    // The stop flag is set before the running task is released; the destructor then frees
    // the three queued tasks without running them. The worker lives until the task ends.
    while (!workerStopped(*worker))
        std::this_thread::yield();
    release.set_value();
    destroyer.join();
    QCOMPARE(*captured, 0);
    QCOMPARE(captured.use_count(), long(1));
}

void TestSignals::workerCannotStopItself()
{
    WorkerThread worker;
    std::promise<int> result;
    worker.post([&] {
        try {
            worker.stop();
            result.set_value(0);
        } catch (const std::system_error& e) {
            result.set_value(e.code() == std::errc::resource_deadlock_would_occur ? 1 : 2);
        }
    });
    QCOMPARE(result.get_future().get(), 1);
}

QTEST_APPLESS_MAIN(TestSignals)
#include "tst_signals.moc"
