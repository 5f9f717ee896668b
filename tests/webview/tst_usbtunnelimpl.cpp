#include "novabench.h"
#include "scriptedtunneldevice.h"

#include "plugins/webview/transport/cvnusbdevice.h"
#include "plugins/webview/transport/usbtunnelimpl.h"
#include "tests/usb/simdevicefixture.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <mutex>

using CVN::AbstractUSB::CVNUSB::CVNUSBDevice;
using CVN::USBTunnel::ConnectionError;
using CVN::USBTunnel::OperationResult;
using CVN::USBTunnel::USBTunnelImpl;
using OpenAnswer = ScriptedTunnelDevice::OpenAnswer;

namespace {

constexpr int kWaitMs = 20000;
using Answer = std::pair<OperationResult, ConnectionError>;
using ReadAnswer = std::pair<OperationResult, uint64_t>;

Answer answer(int result, ConnectionError error)
{
    return {OperationResult(result), error};
}
ReadAnswer readAnswer(int result, uint64_t bytes)
{
    return {OperationResult(result), bytes};
}

QByteArray pattern(int size, int seed = 0)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char((i + seed) * 31 + (i >> 11));
    return out;
}

// What the engine told, one line each, in order; filled on the work thread.
class Events
{
public:
    void add(const QString& event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events << event;
    }
    QStringList list() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    int count(const QString& event) const { return int(list().count(event)); }
    std::function<void(OperationResult, ConnectionError)> event(const QString& name)
    {
        return [this, name](OperationResult r, ConnectionError e) {
            add(QStringLiteral("%1 %2 %3").arg(name).arg(r).arg(e));
        };
    }
    std::function<void(OperationResult, uint64_t)> read(const QString& name)
    {
        return [this, name](OperationResult r, uint64_t n) {
            add(QStringLiteral("%1 %2 %3").arg(name).arg(r).arg(n));
        };
    }
    std::function<void(OperationResult)> write(const QString& name)
    {
        return [this, name](OperationResult r) { add(QStringLiteral("%1 %2").arg(name).arg(r)); };
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_events;
};

// One engine over a scripted device; the engine's own two callbacks go to events.
struct Tunnel
{
    explicit Tunnel(bool bulk, USBTunnelImpl::Options options = {})
        : device(bulk)
    {
        CVN::USB::IUSBDevice* usb = waitForDevice(device.model());
        if (!usb)
            return;
        engine = USBTunnelImpl::create(
            std::make_unique<CVNUSBDevice>(usb),
            [this](uint16_t id) { events.add(QStringLiteral("connection closed %1").arg(id)); },
            [this] { events.add(QStringLiteral("tunnel closed")); }, options);
        usb->Release();
    }
    ~Tunnel() { engine.reset(); }

    // Opens id and leaves a read pending on it that reports as "read"; by the return the
    // work thread has done all that was queued (the host's first grant has gone out).
    bool openWithPendingRead(uint16_t id)
    {
        return engine && engine->openTCPConnectionSync(id, 80) == answer(0, 0) &&
               engine->read(id, pendingRead, sizeof pendingRead, events.read("read")) && settle();
    }
    bool settle()
    {
        std::promise<void> done;
        std::future<void> ran = done.get_future();
        return engine->post([&done] { done.set_value(); }) &&
               ran.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
    }

    ScriptedTunnelDevice device;
    Events events;
    std::unique_ptr<USBTunnelImpl> engine;
    char pendingRead[16] = {};
};

USBTunnelImpl::Options quickClose()
{
    USBTunnelImpl::Options options;
    options.closeLimit = std::chrono::milliseconds(100);
    return options;
}

} // namespace

class tst_USBTunnelImpl : public QObject
{
    Q_OBJECT

private slots:
    void dataMovesBothWays_data();
    void dataMovesBothWays();
    void openAnswers_data();
    void openAnswers();
    void refusals();
    void closeConfirmedByDevice();
    void closeWithoutAnswerIsBounded();
    void openWithoutAnswerIsBounded_data();
    void openWithoutAnswerIsBounded();
    void newConnectionIdSkipsZeroAndIdsInUse();
    void protocolErrorsEndTheTunnel_data();
    void protocolErrorsEndTheTunnel();
    void messagesForUnknownIdsAreIgnored();
    void largeGrantCountsAndCreditCap();
    void zeroLengthWriteNeedsNoCredit();
    void failedTransferNeverLeavesAWriteWaiting();
    void unplugEndsEveryConnection();
    void writeToASilentDeviceIsBounded();
    void closeAllAndDestruction();
};

void tst_USBTunnelImpl::dataMovesBothWays_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::newRow("bulk") << true;
    QTest::newRow("control") << false;
}

// More than a ring's worth each way, paced by credit on both sides.
void tst_USBTunnelImpl::dataMovesBothWays()
{
    QFETCH(bool, bulk);
    Tunnel t(bulk);
    QVERIFY(t.engine);
    t.device.setGrants(64, true);
    QCOMPARE(t.engine->openTCPConnectionSync(1, 80), answer(0, 0));

    const QByteArray up = pattern(300000);
    QCOMPARE(t.engine->writeSync(1, up.constData(), uint64_t(up.size())), OperationResult(0));
    QTRY_COMPARE_WITH_TIMEOUT(t.device.received(1).size(), up.size(), kWaitMs);
    QCOMPARE(t.device.received(1), up);
    // Never more in one message than the 64 KiB the device had granted at that moment.
    int transfers = 0;
    for (const QString& line : t.device.hostMessages()) {
        if (!line.startsWith("transfer"))
            continue;
        ++transfers;
        QVERIFY2(line.section(' ', 2, 2).toInt() <= 65536, qPrintable(line));
    }
    QVERIFY(transfers >= 5);
    QCOMPARE(t.device.hostMessages().mid(0, 2), QStringList({"open 1 80", "tokens 1 4096"}));

    const int downSize = bulk ? 4 * 1024 * 1024 + 500000 : 4 * 1024 * 1024 + 5000;
    const QByteArray down = pattern(downSize, 7);
    t.device.stream(1, down, 50000);
    QByteArray got;
    QByteArray buffer(131072, '\0');
    while (got.size() < down.size()) {
        const ReadAnswer r = t.engine->readSync(1, buffer.data(), uint64_t(buffer.size()));
        QCOMPARE(r.first, OperationResult(0));
        QVERIFY(r.second > 0);
        got.append(buffer.constData(), int(r.second));
    }
    QCOMPARE(got, down);

    // The owning variants.
    std::vector<char> tail(1500, 'z');
    QVERIFY(t.engine->write(1, tail, t.events.write("vector write")));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(), QStringList({"vector write 0"}), kWaitMs);
    t.device.stream(1, "abc", 10);
    std::vector<char> read;
    QVERIFY(t.engine->read(1, 100, [&](OperationResult r, std::vector<char> bytes) {
        read = std::move(bytes);
        t.events.add(QStringLiteral("vector read %1").arg(r));
    }));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.count("vector read 0"), 1, kWaitMs);
    QCOMPARE(QByteArray(read.data(), int(read.size())), QByteArray("abc"));
    QVERIFY(!t.engine->isClosed());
}

void tst_USBTunnelImpl::openAnswers_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("engineEvents");
    QTest::newRow("accepted") << int(OpenAnswer::Accept) << "open 0 0" << QStringList();
    // Refused: not success, and the device's error comes along.
    QTest::newRow("refused") << int(OpenAnswer::Refuse) << "open 1 111"
                             << QStringList({"connection closed 5"});
}

void tst_USBTunnelImpl::openAnswers()
{
    QFETCH(int, answer);
    QFETCH(QString, expected);
    QFETCH(QStringList, engineEvents);
    Tunnel t(true);
    QVERIFY(t.engine);
    t.device.setOpenAnswer(OpenAnswer(answer));
    QVERIFY(t.engine->openTCPConnection(5, 8080, t.events.event("open")));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list().value(0), expected, kWaitMs);
    QVERIFY(t.settle());
    QCOMPARE(t.events.list().mid(1), engineEvents);
    QCOMPARE(t.device.hostMessages().value(0), QStringLiteral("open 5 8080"));

    QCOMPARE(t.engine->openTestConnectionSync(6, 9, 2, 3).first,
             OperationResult(answer == int(OpenAnswer::Accept) ? 0 : 1));
    QVERIFY(t.device.hostMessages().contains("open-test 6 9 2 3"));
}

void tst_USBTunnelImpl::refusals()
{
    Tunnel t(false);
    QVERIFY(t.engine);
    t.device.setOpenAnswer(OpenAnswer::Silent);
    QVERIFY(t.engine->openTCPConnection(1, 80, t.events.event("open 1")));
    QTRY_COMPARE_WITH_TIMEOUT(t.device.hostMessages(), QStringList({"open 1 80"}), kWaitMs);
    char buffer[16];
    // Not open yet, already in use, unknown, same operation twice.
    QCOMPARE(t.engine->readSync(1, buffer, sizeof buffer), readAnswer(3, 0));
    QCOMPARE(t.engine->writeSync(1, "x", 1), OperationResult(3));
    QCOMPARE(t.engine->closeConnectionSync(1), answer(3, 0));
    QCOMPARE(t.engine->openTCPConnectionSync(1, 80), answer(3, 0));
    QCOMPARE(t.engine->readSync(2, buffer, sizeof buffer), readAnswer(3, 0));
    QCOMPARE(t.engine->closeConnectionSync(2), answer(3, 0));
    t.device.sendRaw(ScriptedTunnelDevice::opened(1));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(), QStringList({"open 1 0 0"}), kWaitMs);
    QVERIFY(t.engine->read(1, buffer, sizeof buffer, t.events.read("first read")));
    QCOMPARE(t.engine->readSync(1, buffer, sizeof buffer), readAnswer(3, 0));
    // A write may be pending beside the read; a second write may not.
    QVERIFY(t.engine->write(1, "abc", 3, t.events.write("first write")));
    QCOMPARE(t.engine->writeSync(1, "d", 1), OperationResult(3));
    QCOMPARE(t.device.hostMessages().count("open 1 80"), 1);
    // A synchronous call from a callback would wait on itself.
    std::atomic<int> threw{0};
    QVERIFY(t.engine->post([&] {
        try {
            t.engine->closeConnectionSync(1);
        } catch (const std::logic_error&) {
            ++threw;
        }
    }));
    QTRY_COMPARE_WITH_TIMEOUT(threw.load(), 1, kWaitMs);
}

// The pending read ends first, then the close, then the connection leaves.
void tst_USBTunnelImpl::closeConfirmedByDevice()
{
    Tunnel t(true);
    QVERIFY(t.openWithPendingRead(3));
    QVERIFY(t.engine->closeConnection(3, t.events.event("close")));
    QTRY_COMPARE_WITH_TIMEOUT(
        t.events.list(), QStringList({"read 1 0", "close 0 0", "connection closed 3"}), kWaitMs);
    QCOMPARE(t.engine->writeSync(3, "x", 1), OperationResult(3));
    QCOMPARE(t.device.hostMessages().last(), QStringLiteral("close 3"));
}

// A device that never confirms a close: the connection is dropped here after the bound, and
// its id is not handed out again until the device's late answer.
void tst_USBTunnelImpl::closeWithoutAnswerIsBounded()
{
    Tunnel t(true, quickClose());
    QVERIFY(t.engine);
    t.device.setAnswerCloses(false);
    const uint16_t id = t.engine->newConnectionId();
    QVERIFY(t.openWithPendingRead(id));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(t.engine->closeConnectionSync(id), answer(2, 0));
    QVERIFY(timer.elapsed() >= 100);
    QTRY_COMPARE_WITH_TIMEOUT(
        t.events.list(), QStringList({"read 1 0", QStringLiteral("connection closed %1").arg(id)}),
        kWaitMs);
    QCOMPARE(t.engine->openTCPConnectionSync(id, 80), answer(3, 0));
    QVERIFY(t.engine->newConnectionId() != id);

    // Late payload for it is dropped, the tunnel stays; the late answer frees the id.
    t.device.sendRaw(ScriptedTunnelDevice::transfer(id, "late") +
                     ScriptedTunnelDevice::closed(id, 0));
    // Refused until the late answer has been read.
    Answer reopened = answer(3, 0);
    for (int i = 0; i < 2000 && reopened.first == 3; ++i) {
        QTest::qWait(10);
        reopened = t.engine->openTCPConnectionSync(id, 80);
    }
    QCOMPARE(reopened, answer(0, 0));
    QVERIFY(!t.engine->isClosed());
    t.device.sendRaw(ScriptedTunnelDevice::transfer(id, "fresh"));
    char buffer[16];
    const ReadAnswer r = t.engine->readSync(id, buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer, int(r.second)), QByteArray("fresh"));
}

void tst_USBTunnelImpl::openWithoutAnswerIsBounded_data()
{
    QTest::addColumn<QByteArray>("lateAnswer");
    QTest::addColumn<bool>("closedByHost");
    QTest::newRow("late opened") << ScriptedTunnelDevice::opened(7) << true;
    QTest::newRow("late refusal") << ScriptedTunnelDevice::closed(7, 1) << false;
}

// A device that never answers an open: it fails after the bound, and its id is not handed out
// again until the device's late answer; a late "opened" is closed, as nobody waits for it.
void tst_USBTunnelImpl::openWithoutAnswerIsBounded()
{
    QFETCH(QByteArray, lateAnswer);
    QFETCH(bool, closedByHost);
    USBTunnelImpl::Options options;
    options.openLimit = std::chrono::milliseconds(100);
    Tunnel t(true, options);
    QVERIFY(t.engine);
    t.device.setOpenAnswer(OpenAnswer::Silent);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(t.engine->openTCPConnectionSync(7, 80), answer(1, 0));
    QVERIFY(timer.elapsed() >= 100);
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(), QStringList({"connection closed 7"}), kWaitMs);
    QCOMPARE(t.engine->openTCPConnectionSync(7, 80), answer(3, 0));
    for (int i = 0; i < 6; ++i)
        QVERIFY(t.engine->newConnectionId() != 7);

    t.device.setOpenAnswer(OpenAnswer::Accept);
    t.device.sendRaw(lateAnswer);
    Answer reopened = answer(3, 0);
    for (int i = 0; i < 2000 && reopened.first == 3; ++i) {
        QTest::qWait(10);
        reopened = t.engine->openTCPConnectionSync(7, 80);
    }
    QCOMPARE(reopened, answer(0, 0));
    QCOMPARE(t.device.hostMessages().contains("close 7"), closedByHost);
    QVERIFY(!t.engine->isClosed());
    QCOMPARE(t.events.list(), QStringList({"connection closed 7"}));
}

void tst_USBTunnelImpl::newConnectionIdSkipsZeroAndIdsInUse()
{
    Tunnel t(true);
    QVERIFY(t.engine);
    QCOMPARE(t.engine->openTCPConnectionSync(2, 80), answer(0, 0));
    QCOMPARE(t.engine->newConnectionId(), uint16_t(1));
    QCOMPARE(t.engine->newConnectionId(), uint16_t(3));
    // Round the whole range: every id once, never 0, then none left.
    QSet<uint16_t> seen{1, 2, 3};
    for (int i = 0; i < 65532; ++i) {
        const uint16_t id = t.engine->newConnectionId();
        QVERIFY(id != 0);
        QVERIFY(!seen.contains(id));
        seen.insert(id);
    }
    QCOMPARE(t.engine->newConnectionId(), uint16_t(0));
    QCOMPARE(t.engine->closeConnectionSync(2), answer(0, 0));
    QCOMPARE(t.engine->newConnectionId(), uint16_t(2));
}

void tst_USBTunnelImpl::protocolErrorsEndTheTunnel_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("payload for an unknown id") << ScriptedTunnelDevice::transfer(9, "stray");
    // Only the announced length matters: it can never fit, so nothing of it is stored.
    QByteArray overRing = ScriptedTunnelDevice::transfer(1, {});
    overRing[4] = 1;
    overRing[6] = 0x40; // 4 MiB + 1
    QTest::newRow("payload over the ring's free space") << overRing;
    QTest::newRow("unknown message type") << QByteArray::fromHex("08000100");
    QTest::newRow("open from the device") << QByteArray::fromHex("0100010001005000");
}

void tst_USBTunnelImpl::protocolErrorsEndTheTunnel()
{
    QFETCH(QByteArray, stream);
    Tunnel t(true);
    QVERIFY(t.openWithPendingRead(1));
    t.device.sendRaw(stream);
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(),
                              QStringList({"read 2 0", "connection closed 1", "tunnel closed"}),
                              kWaitMs);
    QVERIFY(t.engine->isClosed());
    QVERIFY(!t.engine->read(1, t.pendingRead, 1, t.events.read("late")));
    QCOMPARE(t.engine->openTCPConnectionSync(2, 80), answer(2, 0));
}

void tst_USBTunnelImpl::messagesForUnknownIdsAreIgnored()
{
    Tunnel t(true);
    QVERIFY(t.engine);
    QCOMPARE(t.engine->openTCPConnectionSync(1, 80), answer(0, 0));
    t.device.sendRaw(ScriptedTunnelDevice::opened(9) + ScriptedTunnelDevice::tokens(9, 4) +
                     ScriptedTunnelDevice::closed(9, 0) + ScriptedTunnelDevice::transfer(1, "ok"));
    char buffer[16];
    const ReadAnswer r = t.engine->readSync(1, buffer, sizeof buffer);
    QCOMPARE(r, readAnswer(0, 2));
    QVERIFY(!t.engine->isClosed());
    QVERIFY(t.events.list().isEmpty());
}

// A grant of 65536 tokens is a grant, not 0; and credit stops at what a ring holds.
void tst_USBTunnelImpl::largeGrantCountsAndCreditCap()
{
    Tunnel t(true);
    QVERIFY(t.engine);
    t.device.setGrants(65536, false);
    QCOMPARE(t.engine->openTCPConnectionSync(1, 80), answer(0, 0));
    const QByteArray data = pattern(5 * 1024 * 1024);
    QVERIFY(t.engine->write(1, data.constData(), uint64_t(data.size()), t.events.write("write")));
    QTRY_COMPARE_WITH_TIMEOUT(t.device.received(1).size(), 4 * 1024 * 1024, kWaitMs);
    QTest::qWait(50);
    QCOMPARE(t.device.received(1).size(), 4 * 1024 * 1024);
    QVERIFY(t.events.list().isEmpty());
    t.device.sendRaw(ScriptedTunnelDevice::tokens(1, 1024));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(), QStringList({"write 0"}), kWaitMs);
    QCOMPARE(t.device.received(1), data);
}

void tst_USBTunnelImpl::zeroLengthWriteNeedsNoCredit()
{
    Tunnel t(false);
    QVERIFY(t.engine);
    t.device.setGrants(0, false);
    QCOMPARE(t.engine->openTCPConnectionSync(1, 80), answer(0, 0));
    QCOMPARE(t.engine->writeSync(1, nullptr, 0), OperationResult(0));
    QCOMPARE(t.engine->writeSync(1, std::vector<char>().data(), 0), OperationResult(0));
    // A real write waits for credit, and goes once it comes, carrying the host's grant.
    QVERIFY(t.engine->write(1, "0123456789", 10, t.events.write("write")));
    QTest::qWait(50);
    QVERIFY(t.events.list().isEmpty());
    t.device.sendRaw(ScriptedTunnelDevice::transfer(1, pattern(3000)));
    char buffer[4096];
    QCOMPARE(t.engine->readSync(1, buffer, sizeof buffer), readAnswer(0, 3000));
    t.device.sendRaw(ScriptedTunnelDevice::tokens(1, 1));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(), QStringList({"write 0"}), kWaitMs);
    QCOMPARE(t.device.received(1), QByteArray("0123456789"));
    // The freed space went as its own grant at once; the write had none left to carry.
    QVERIFY(t.device.hostMessages().contains("tokens 1 2"));
    QVERIFY(t.device.hostMessages().contains("transfer+tokens 1 10 0"));
}

// A transfer that fails takes the tunnel down: the write is told, nothing waits on credit.
void tst_USBTunnelImpl::failedTransferNeverLeavesAWriteWaiting()
{
    Tunnel t(true);
    t.device.setGrants(1, false);
    QVERIFY(t.openWithPendingRead(1));
    t.device.setWritesFail(true);
    const QByteArray data = pattern(3000);
    QCOMPARE(t.engine->writeSync(1, data.constData(), uint64_t(data.size())), OperationResult(2));
    QTRY_COMPARE_WITH_TIMEOUT(t.events.list(),
                              QStringList({"read 2 0", "connection closed 1", "tunnel closed"}),
                              kWaitMs);
}

void tst_USBTunnelImpl::unplugEndsEveryConnection()
{
    Tunnel t(true);
    QVERIFY(t.engine);
    t.device.setGrants(0, false);
    QCOMPARE(t.engine->openTCPConnectionSync(1, 80), answer(0, 0));
    QCOMPARE(t.engine->openTCPConnectionSync(2, 80), answer(0, 0));
    char buffer[16];
    QVERIFY(t.engine->read(1, buffer, sizeof buffer, t.events.read("read 1")));
    QVERIFY(t.engine->write(2, "waits", 5, t.events.write("write 2")));
    QVERIFY(t.settle());
    t.device.unplug();
    QTRY_VERIFY_WITH_TIMEOUT(t.events.list().contains("tunnel closed"), kWaitMs);
    QCOMPARE(t.events.list(), QStringList({"read 1 2 0", "connection closed 1", "write 2 2",
                                           "connection closed 2", "tunnel closed"}));
}

// A device that stops taking data must not hold the work thread for ever: the write gives up
// after its bound and the tunnel ends, telling the write and the connection.
void tst_USBTunnelImpl::writeToASilentDeviceIsBounded()
{
    NovaBench bench;
    CVN::USB::IUSBDevice* usb = bench.device();
    QVERIFY(usb);
    Events events;
    USBTunnelImpl::Options options;
    options.writeLimit = std::chrono::milliseconds(200);
    std::unique_ptr<USBTunnelImpl> engine = USBTunnelImpl::create(
        std::make_unique<CVNUSBDevice>(usb),
        [&events](uint16_t id) { events.add(QStringLiteral("connection closed %1").arg(id)); },
        [&events] { events.add(QStringLiteral("tunnel closed")); }, options);
    QCOMPARE(engine->openTestConnectionSync(1, Sim::NovaTunnelFunction::TestEcho, 0, 0),
             answer(0, 0));
    const QByteArray sent = pattern(4096);
    QCOMPARE(engine->writeSync(1, sent.constData(), uint64_t(sent.size())), OperationResult(0));
    QByteArray echoed(sent.size(), '\0');
    int got = 0;
    while (got < sent.size()) {
        const ReadAnswer r = engine->readSync(1, echoed.data() + got, uint64_t(sent.size() - got));
        QCOMPARE(r.first, OperationResult(0));
        got += int(r.second);
    }
    QCOMPARE(echoed, sent);

    bench.recorder().tunnel().misbehave(Sim::NovaTunnelFunction::Misdeed::Silence);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(engine->writeSync(1, sent.constData(), uint64_t(sent.size())), OperationResult(2));
    QVERIFY(timer.elapsed() >= 150);
    QTRY_COMPARE_WITH_TIMEOUT(events.list(),
                              QStringList({"connection closed 1", "tunnel closed"}), kWaitMs);
    QVERIFY(engine->isClosed());
}

void tst_USBTunnelImpl::closeAllAndDestruction()
{
    {
        Tunnel t(false);
        QVERIFY(t.openWithPendingRead(1));
        // From a callback, as the owner would on a failed read of its own.
        QVERIFY(t.engine->post([&t] { t.engine->closeAll(); }));
        QTRY_COMPARE_WITH_TIMEOUT(t.events.list(),
                                  QStringList({"read 2 0", "connection closed 1", "tunnel closed"}),
                                  kWaitMs);
        t.engine->closeAll();
        QVERIFY(t.engine->isClosed());
        QVERIFY(!t.engine->post([] {}));
        QVERIFY(!t.engine->closeConnection(1, t.events.event("late")));
        char buffer[16];
        QCOMPARE(t.engine->readSync(1, buffer, sizeof buffer), readAnswer(2, 0));
        t.engine.reset();
        QCOMPARE(t.events.count("tunnel closed"), 1);
    }
    // Destroyed with a read pending: the read is still told, once; the engine's own
    // callbacks are not.
    Tunnel t(true);
    QVERIFY(t.openWithPendingRead(1));
    t.engine.reset();
    QCOMPARE(t.events.list(), QStringList({"read 2 0"}));
}

QTEST_GUILESS_MAIN(tst_USBTunnelImpl)
#include "tst_usbtunnelimpl.moc"
