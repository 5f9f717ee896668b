#include "plugins/webview/transport/usbbulkpipeinterface.h"
#include "plugins/webview/transport/usbtunnelmessage.h"
#include "plugins/webview/transport/usbtunnelworkqueue.h"

#include <QtTest>

#include <condition_variable>
#include <deque>
#include <mutex>

using CVN::USBTunnelMessage;
using CVN::USBTunnelMessageReader;
using CVN::AbstractUSB::kUSBAborted;
using CVN::AbstractUSB::kUSBFailure;
using CVN::AbstractUSB::kUSBSuccess;
using CVN::AbstractUSB::USBPipe;
using CVN::AbstractUSB::USBResult;
using CVN::USBTunnel::USBBulkPipeInterface;
using CVN::USBTunnel::USBTunnelWorkQueue;

namespace {

constexpr int kWaitMs = 20000;

// Events the pipe hands on, one line each; read and written under a lock since the pipe
// reports on its work thread.
class RecordingSink : public USBTunnelMessageReader::Sink
{
public:
    QStringList events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    QByteArray payload() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_payload;
    }
    void connectionOpened(uint16_t id) override { add(QStringLiteral("opened %1").arg(id)); }
    void tokensReceived(uint16_t id, uint64_t count) override
    {
        add(QStringLiteral("tokens %1 %2").arg(id).arg(count));
    }
    void connectionClosed(uint16_t id, uint16_t error) override
    {
        add(QStringLiteral("closed %1 %2").arg(id).arg(error));
    }
    bool payloadBegin(uint16_t id, uint64_t length) override
    {
        add(QStringLiteral("payload %1 %2").arg(id).arg(length));
        return true;
    }
    void payloadPiece(uint16_t, const char* data, size_t size) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_payload.append(data, qsizetype(size));
    }
    void payloadEnd(uint16_t id) override { add(QStringLiteral("end %1").arg(id)); }

private:
    void add(const QString& event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events << event;
    }
    mutable std::mutex m_mutex;
    QStringList m_events;
    QByteArray m_payload;
};

// A tunnel interface scripted by the test: host writes are recorded one per write (bulk
// writes and control-mode request 4 alike); the device's stream is handed to bulk reads as
// queued, or to control polls as raw answers.
class ScriptedInterface : public CVN::AbstractUSB::AbstractUSBInterface
{
public:
    bool bulkPipes = true;
    bool acceptVersion2 = true;

    std::vector<QByteArray> writes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_writes;
    }
    void setWritesFail(bool fail)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writesFail = fail;
    }
    // Writes block until released, so the test can hold the work thread.
    void holdWrites(bool hold)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hold = hold;
        }
        m_changed.notify_all();
    }
    bool waitForHeldWrite()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                  [this] { return m_blocked; });
    }
    // Bytes for one bulk read.
    void deliver(const QByteArray& bytes)
    {
        std::vector<Answer> answers;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_incoming.push_back(bytes);
            answers = takeReads();
        }
        for (Answer& a : answers)
            a.done(kUSBSuccess, a.size);
    }
    // One raw answer to a control poll (length word and data as the device sends them).
    void answer(const QByteArray& raw)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back(raw);
    }
    bool closed() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }

    bool open() override { return true; }
    bool close() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        return true;
    }
    uint8_t interfaceClass() override { return 0xFF; }
    uint8_t interfaceSubclass() override { return 5; }
    std::vector<USBPipe> pipes() override
    {
        if (!bulkPipes)
            return {};
        return {USBPipe{1, 0, 512, true}, USBPipe{2, 1, 512, true}};
    }
    USBResult resetPipe(uint8_t pipe) override
    {
        std::deque<PendingRead> aborted;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (pipe != 2)
                return kUSBSuccess;
            aborted.swap(m_reads);
        }
        for (PendingRead& read : aborted)
            read.done(kUSBAborted, 0);
        return kUSBSuccess;
    }
    USBResult readAsync(uint8_t, void* buffer, uint32_t length, ReadCompletion completion) override
    {
        std::vector<Answer> answers;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reads.push_back(PendingRead{static_cast<char*>(buffer), length, std::move(completion)});
            answers = takeReads();
        }
        for (Answer& a : answers)
            a.done(kUSBSuccess, a.size);
        return kUSBSuccess;
    }
    USBResult writeAsync(uint8_t, const void*, uint32_t, WriteCompletion) override
    {
        return kUSBFailure;
    }
    std::pair<USBResult, uint32_t> read(uint8_t, void*, uint32_t) override
    {
        return {kUSBFailure, 0};
    }
    USBResult write(uint8_t, const void* data, uint32_t length) override
    {
        return record(data, length);
    }
    USBResult writeWithin(uint8_t, const void* data, uint32_t length,
                          std::chrono::milliseconds limit) override
    {
        return record(data, length, limit);
    }
    USBResult controlTransfer(bool in, uint8_t request, uint16_t, void* buffer, uint16_t length,
                              uint32_t* transferred) override
    {
        if (transferred)
            *transferred = 0;
        if (!in && request == USBBulkPipeInterface::SetVersion)
            return length == 2 && (acceptVersion2 || static_cast<uint8_t*>(buffer)[0] == 1)
                       ? kUSBSuccess
                       : kUSBFailure;
        if (!in && request == USBBulkPipeInterface::ControlWrite)
            return record(buffer, length);
        if (in && request == USBBulkPipeInterface::ControlRead) {
            QByteArray raw(2, '\0');
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_answers.empty()) {
                    raw = m_answers.front();
                    m_answers.pop_front();
                }
            }
            const int size = std::min<int>(raw.size(), length);
            memcpy(buffer, raw.constData(), size_t(size));
            if (transferred)
                *transferred = uint32_t(size);
        }
        return kUSBSuccess;
    }
    USBResult controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                              uint16_t length) override
    {
        return controlTransfer(in, request, value, buffer, length, nullptr);
    }

private:
    struct PendingRead
    {
        char* buffer = nullptr;
        uint32_t length = 0;
        ReadCompletion done;
    };

    struct Answer
    {
        ReadCompletion done;
        uint32_t size = 0;
    };

    // Under the lock: fills the pending reads, oldest first, from the queued stream; their
    // completions are told after the lock is released.
    std::vector<Answer> takeReads()
    {
        std::vector<Answer> answers;
        while (!m_reads.empty() && !m_incoming.empty()) {
            PendingRead read = std::move(m_reads.front());
            m_reads.pop_front();
            QByteArray& front = m_incoming.front();
            const uint32_t size = std::min<uint32_t>(read.length, uint32_t(front.size()));
            memcpy(read.buffer, front.constData(), size);
            front.remove(0, int(size));
            if (front.isEmpty())
                m_incoming.pop_front();
            answers.push_back(Answer{std::move(read.done), size});
        }
        return answers;
    }
    // A held write waits for the release, or fails after limit when it has one.
    USBResult record(const void* data, uint32_t length,
                     std::chrono::milliseconds limit = std::chrono::milliseconds::max())
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_blocked = true;
        m_changed.notify_all();
        bool released = true;
        if (limit == std::chrono::milliseconds::max())
            m_changed.wait(lock, [this] { return !m_hold; });
        else
            released = m_changed.wait_for(lock, limit, [this] { return !m_hold; });
        m_blocked = false;
        if (m_writesFail || !released)
            return kUSBFailure;
        m_writes.emplace_back(static_cast<const char*>(data), int(length));
        return kUSBSuccess;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<QByteArray> m_writes;
    bool m_writesFail = false;
    bool m_hold = false;
    bool m_blocked = false;
    bool m_closed = false;
    std::deque<QByteArray> m_incoming;
    std::deque<QByteArray> m_answers;
    std::deque<PendingRead> m_reads; // the host may queue several
};

// The device's little-endian messages.
QByteArray le16(uint16_t v)
{
    QByteArray out;
    out.append(char(v & 0xFF)).append(char(v >> 8));
    return out;
}
QByteArray le64(uint64_t v)
{
    QByteArray out;
    for (int i = 0; i < 8; ++i)
        out.append(char(v >> (8 * i)));
    return out;
}
QByteArray deviceOpened(uint16_t id)
{
    return le16(2) + le16(id);
}
QByteArray deviceTransfer(uint16_t id, const QByteArray& payload)
{
    return le16(4) + le16(id) + le64(uint64_t(payload.size())) + payload;
}
QByteArray controlAnswer(uint16_t announced, const QByteArray& data)
{
    QByteArray out;
    out.append(char(announced >> 8)).append(char(announced & 0xFF));
    return out + data;
}

QByteArray pattern(int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7 + 3);
    return out;
}

struct Outcome
{
    std::mutex mutex;
    std::vector<std::pair<bool, uint64_t>> results;
    void add(bool ok, uint64_t tokens = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        results.emplace_back(ok, tokens);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return results.size();
    }
};

QByteArray concatenated(const std::vector<QByteArray>& writes, size_t from)
{
    QByteArray out;
    for (size_t i = from; i < writes.size(); ++i)
        out += writes[i];
    return out;
}

} // namespace

class tst_USBBulkPipe : public QObject
{
    Q_OBJECT

private slots:
    void dataMovesBothWays_data();
    void dataMovesBothWays();
    void transferShapeFollowsVersionAndPacket_data();
    void transferShapeFollowsVersionAndPacket();
    void setUpFailures();
    void controlAnswerBelievedOnlyAsFarAsReceived();
    void failedTransferGivesTokensBack();
    void shutdownCompletesQueuedSends();
    void shutdownFromWorkThread();
    void keepAliveWritesWhenIdle();
    void workQueueStopTellsEveryQueuedTask();
    void workQueueRefusesAfterStop();
    void workQueueDelayedTasks();
};

void tst_USBBulkPipe::dataMovesBothWays_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::newRow("bulk") << true;
    QTest::newRow("control") << false;
}

void tst_USBBulkPipe::dataMovesBothWays()
{
    QFETCH(bool, bulk);
    auto interface = std::make_shared<ScriptedInterface>();
    interface->bulkPipes = bulk;
    RecordingSink sink;
    std::atomic<bool> failed{false};
    USBBulkPipeInterface pipe(
        interface, &sink, [&](const QString&) { failed = true; }, std::chrono::hours(1));
    pipe.setUp();
    QCOMPARE(pipe.controlMode(), !bulk);
    QVERIFY(pipe.protocol2());

    Outcome outcome;
    QVERIFY(pipe.sendOpenConnectionTCPMessage(1, 80, [&](bool ok) { outcome.add(ok); }));
    const QByteArray big = pattern(5000);
    QVERIFY(pipe.sendTransfer(1, big.constData(), uint32_t(big.size()), 3,
                              [&](bool ok, uint64_t back) { outcome.add(ok, back); }));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.count(), size_t(2), kWaitMs);
    QCOMPARE(outcome.results[0], std::make_pair(true, uint64_t(0)));
    // Too long to carry tokens: they come back to the caller.
    QCOMPARE(outcome.results[1], std::make_pair(true, uint64_t(3)));
    const QByteArray sent = concatenated(interface->writes(), 0);
    QCOMPARE(sent, USBTunnelMessage::openConnectionTCP(1, 80) +
                       USBTunnelMessage::transfer(1, 5000) + big);

    // The device's stream, cut across reads in the middle of a header and of a payload.
    // Longer than the receive buffer, so both modes fill it more than once.
    const QByteArray payload = pattern(40000);
    const QByteArray stream = deviceOpened(1) + deviceTransfer(1, payload);
    const QList<int> cuts = {3, 9, 1500, 20000, int(stream.size())};
    int at = 0;
    for (int cut : cuts) {
        const QByteArray piece = stream.mid(at, cut - at);
        at = cut;
        if (bulk) {
            interface->deliver(piece);
        } else {
            for (int i = 0; i < piece.size(); i += 1024)
                interface->answer(controlAnswer(uint16_t(std::min<int>(1024, piece.size() - i)),
                                                piece.mid(i, 1024)));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(sink.events(), QStringList({"opened 1", "payload 1 40000", "end 1"}),
                              kWaitMs);
    QCOMPARE(sink.payload(), payload);
    QVERIFY(!failed);
    pipe.shutdown();
    QVERIFY(interface->closed());
}

void tst_USBBulkPipe::transferShapeFollowsVersionAndPacket_data()
{
    QTest::addColumn<bool>("version2");
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("writeSizes");
    QTest::addColumn<bool>("carried");
    QTest::newRow("v2 4095 one write") << true << 4095 << QList<int>{20 + 4095} << true;
    QTest::newRow("v2 4096 header then payload then zlp")
        << true << 4096 << QList<int>{12, 4096, 0} << false;
    QTest::newRow("v2 492 fills a packet") << true << 492 << QList<int>{512, 0} << true;
    QTest::newRow("v1 short still separate") << false << 100 << QList<int>{12, 100} << false;
    QTest::newRow("v2 empty") << true << 0 << QList<int>{20} << true;
}

void tst_USBBulkPipe::transferShapeFollowsVersionAndPacket()
{
    QFETCH(bool, version2);
    QFETCH(int, length);
    QFETCH(QList<int>, writeSizes);
    QFETCH(bool, carried);
    auto interface = std::make_shared<ScriptedInterface>();
    interface->acceptVersion2 = version2;
    RecordingSink sink;
    USBBulkPipeInterface pipe(interface, &sink, {}, std::chrono::hours(1));
    pipe.setUp();
    const QByteArray data = pattern(length);
    Outcome outcome;
    QVERIFY(pipe.sendTransfer(9, data.constData(), uint32_t(length), 4,
                              [&](bool ok, uint64_t back) { outcome.add(ok, back); }));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.count(), size_t(1), kWaitMs);
    QCOMPARE(outcome.results[0], std::make_pair(true, carried ? uint64_t(0) : uint64_t(4)));
    QList<int> sizes;
    for (const QByteArray& write : interface->writes())
        sizes << int(write.size());
    QCOMPARE(sizes, writeSizes);
    if (carried)
        QCOMPARE(interface->writes()[0],
                 USBTunnelMessage::transferTokens(9, 4, data.constData(), uint32_t(length)));
}

void tst_USBBulkPipe::setUpFailures()
{
    struct OnlyIn : ScriptedInterface
    {
        std::vector<USBPipe> pipes() override { return {USBPipe{1, 1, 512, true}}; }
    };
    struct OnlyOut : ScriptedInterface
    {
        std::vector<USBPipe> pipes() override { return {USBPipe{1, 0, 512, true}}; }
    };
    RecordingSink sink;
    {
        USBBulkPipeInterface pipe(std::make_shared<OnlyIn>(), &sink, {});
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, pipe.setUp());
    }
    {
        USBBulkPipeInterface pipe(std::make_shared<OnlyOut>(), &sink, {});
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, pipe.setUp());
    }
}

// A poll answer announcing more than it carries: only the bytes that came are parsed. The
// rest of the answer buffer would read as a header of type 0 and end the tunnel.
void tst_USBBulkPipe::controlAnswerBelievedOnlyAsFarAsReceived()
{
    auto interface = std::make_shared<ScriptedInterface>();
    interface->bulkPipes = false;
    RecordingSink sink;
    std::atomic<bool> failed{false};
    interface->answer(controlAnswer(8, deviceOpened(3)));
    // Announces 2000: read as 1024.
    const QByteArray payload = pattern(1012);
    interface->answer(controlAnswer(2000, deviceTransfer(3, payload)));
    interface->answer(controlAnswer(0, {}));
    USBBulkPipeInterface pipe(
        interface, &sink, [&](const QString&) { failed = true; }, std::chrono::hours(1));
    pipe.setUp();
    QTRY_COMPARE_WITH_TIMEOUT(sink.events(), QStringList({"opened 3", "payload 3 1012", "end 3"}),
                              kWaitMs);
    QCOMPARE(sink.payload(), payload);
    QVERIFY(!failed);
}

void tst_USBBulkPipe::failedTransferGivesTokensBack()
{
    auto interface = std::make_shared<ScriptedInterface>();
    RecordingSink sink;
    std::atomic<int> failures{0};
    USBBulkPipeInterface pipe(
        interface, &sink, [&](const QString&) { ++failures; }, std::chrono::hours(1));
    pipe.setUp();
    interface->setWritesFail(true);
    const QByteArray data = pattern(100);
    Outcome outcome;
    QVERIFY(pipe.sendTransfer(1, data.constData(), 100, 7,
                              [&](bool ok, uint64_t back) { outcome.add(ok, back); }));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.count(), size_t(1), kWaitMs);
    QCOMPARE(outcome.results[0], std::make_pair(false, uint64_t(7)));
    QCOMPARE(failures.load(), 1);
    QVERIFY(pipe.isClosed());
    QVERIFY(!pipe.sendTokensMessage(1, 1, [](bool) {}));
}

void tst_USBBulkPipe::shutdownCompletesQueuedSends()
{
    auto interface = std::make_shared<ScriptedInterface>();
    RecordingSink sink;
    USBBulkPipeInterface pipe(interface, &sink, {}, std::chrono::hours(1));
    pipe.setUp();
    interface->holdWrites(true);
    Outcome outcome;
    QVERIFY(pipe.sendCloseConnectionMessage(1, [&](bool ok) { outcome.add(ok); }));
    QVERIFY(interface->waitForHeldWrite());
    const QByteArray data = pattern(10);
    QVERIFY(pipe.sendTokensMessage(1, 4096, [&](bool ok) { outcome.add(ok); }));
    QVERIFY(pipe.sendTransfer(1, data.constData(), 10, 2,
                              [&](bool ok, uint64_t back) { outcome.add(ok, back); }));
    std::thread release([&] {
        QTest::qWait(50);
        interface->holdWrites(false);
    });
    pipe.shutdown();
    release.join();
    QCOMPARE(outcome.count(), size_t(3));
    QCOMPARE(outcome.results[1], std::make_pair(false, uint64_t(0)));
    QCOMPARE(outcome.results[2], std::make_pair(false, uint64_t(2)));
}

// The owner closing from one of the pipe's own callbacks: no wait on itself, and whatever
// is still queued behind completes with failure.
void tst_USBBulkPipe::shutdownFromWorkThread()
{
    auto interface = std::make_shared<ScriptedInterface>();
    RecordingSink sink;
    USBBulkPipeInterface pipe(interface, &sink, {}, std::chrono::hours(1));
    pipe.setUp();
    Outcome outcome;
    interface->holdWrites(true);
    QVERIFY(pipe.sendTokensMessage(1, 1, [&](bool ok) {
        outcome.add(ok);
        pipe.shutdown();
    }));
    QVERIFY(interface->waitForHeldWrite());
    QVERIFY(pipe.sendTokensMessage(1, 2, [&](bool ok) { outcome.add(ok); }));
    QElapsedTimer timer;
    timer.start();
    interface->holdWrites(false);
    QTRY_COMPARE_WITH_TIMEOUT(outcome.count(), size_t(2), kWaitMs);
    QVERIFY(timer.elapsed() < USBBulkPipeInterface::kReadAbortLimit.count());
    QCOMPARE(outcome.results[0].first, true);
    QCOMPARE(outcome.results[1].first, false);
    QVERIFY(pipe.isClosed());
    QVERIFY(!pipe.post([] {}));
}

void tst_USBBulkPipe::keepAliveWritesWhenIdle()
{
    auto interface = std::make_shared<ScriptedInterface>();
    RecordingSink sink;
    USBBulkPipeInterface pipe(interface, &sink, {}, std::chrono::milliseconds(20));
    pipe.setUp();
    QTRY_VERIFY_WITH_TIMEOUT(!interface->writes().empty(), kWaitMs);
    QCOMPARE(interface->writes()[0], QByteArray());
}

void tst_USBBulkPipe::workQueueStopTellsEveryQueuedTask()
{
    USBTunnelWorkQueue queue;
    queue.start();
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    bool release = false;
    QVERIFY(queue.post([&] {
        std::unique_lock<std::mutex> lock(mutex);
        running = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    }));
    {
        std::unique_lock<std::mutex> lock(mutex);
        QVERIFY(
            changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return running; }));
    }
    std::atomic<int> ran{0};
    std::atomic<int> dropped{0};
    for (int i = 0; i < 5; ++i)
        QVERIFY(queue.post([&] { ++ran; }, [&] { ++dropped; }));
    std::thread stopper([&] { queue.stop(); });
    QTest::qWait(20);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    stopper.join();
    QCOMPARE(ran.load() + dropped.load(), 5);
    QCOMPARE(ran.load(), 0);
}

void tst_USBBulkPipe::workQueueRefusesAfterStop()
{
    USBTunnelWorkQueue queue;
    queue.start();
    std::atomic<bool> onWorkThread{false};
    QVERIFY(queue.post([&] { onWorkThread = queue.isWorkThread(); }));
    QTRY_VERIFY_WITH_TIMEOUT(onWorkThread.load(), kWaitMs);
    QVERIFY(!queue.isWorkThread());
    queue.stop();
    bool told = false;
    QVERIFY(!queue.post([&] { told = true; }, [&] { told = true; }));
    QVERIFY(!told);
}

// Delayed tasks run by their time, behind tasks queued meanwhile; a stop forgets the rest.
void tst_USBBulkPipe::workQueueDelayedTasks()
{
    USBTunnelWorkQueue queue;
    queue.start();
    std::mutex mutex;
    QStringList ran;
    auto note = [&](const QString& what) {
        return [&, what] {
            std::lock_guard<std::mutex> lock(mutex);
            ran << what;
        };
    };
    auto ranNow = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return ran;
    };
    QVERIFY(queue.postAfter(std::chrono::milliseconds(60), note("late")));
    QVERIFY(queue.postAfter(std::chrono::milliseconds(20), note("soon")));
    QVERIFY(queue.postAfter(std::chrono::hours(1), note("never")));
    QVERIFY(queue.post(note("now")));
    QTRY_COMPARE_WITH_TIMEOUT(ranNow(), QStringList({"now", "soon", "late"}), kWaitMs);
    queue.stop();
    QCOMPARE(ranNow(), QStringList({"now", "soon", "late"}));
    QVERIFY(!queue.postAfter(std::chrono::milliseconds(0), note("after stop")));
}

QTEST_GUILESS_MAIN(tst_USBBulkPipe)
#include "tst_usbbulkpipe.moc"
