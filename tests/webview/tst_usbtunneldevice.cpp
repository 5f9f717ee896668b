#include "loopbackserver.h"
#include "novabench.h"

#include "plugins/webview/transport/cvnusbdevice.h"
#include "plugins/webview/transport/usbbulkpipeinterface.h"
#include "plugins/webview/transport/usbtunnelmessage.h"
#include "plugins/webview/transport/usbtunnelmessagereader.h"
#include "sim/novarecorder/novatunnelwire.h"
#include "sim/usbbus/transfer.h"

#include <QtTest>

#include <condition_variable>
#include <list>
#include <map>
#include <mutex>

using CVN::USBTunnelMessageReader;
using CVN::AbstractUSB::AbstractUSBInterface;
using CVN::AbstractUSB::CVNUSB::CVNUSBDevice;
using CVN::USBTunnel::USBBulkPipeInterface;
using Sim::NovaTunnelFunction;
using Misdeed = Sim::NovaTunnelFunction::Misdeed;

Q_DECLARE_METATYPE(Misdeed)

namespace {

constexpr int kWaitMs = 20000;
constexpr uint16_t kWebPort = 80;
constexpr uint64_t kHostGrant = 4096; // the host's whole receive ring, in tokens

QByteArray pattern(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 13 + (i >> 9) + seed);
    return bytes;
}

// What the host saw of one connection.
struct HostConnection
{
    bool opened = false;
    bool closed = false;
    uint16_t error = 0;
    QByteArray data;
    uint64_t credit = 0;  // bytes the host may send
    uint64_t granted = 0; // bytes the host allowed the unit, all told
    uint64_t largestPayload = 0;
    bool dataAfterClose = false;
};

// The host's side for the tests: the pipe and message reader of the product, and a ledger
// of each connection kept on the pipe's work thread. It checks the unit against the grants
// it made and can grant back what it received, as a reading host would.
class TunnelHost : public USBTunnelMessageReader::Sink
{
public:
    bool autoGrant = true;

    bool start(NovaBench& bench)
    {
        CVN::USB::IUSBDevice* device = bench.device();
        if (!device)
            return false;
        m_device = std::make_unique<CVNUSBDevice>(device);
        std::shared_ptr<AbstractUSBInterface> interface = m_device->openInterface(0xFF, 5);
        if (!interface || !interface->open())
            return false;
        m_pipe =
            std::make_unique<USBBulkPipeInterface>(interface, this, [this](const QString& reason) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_failure = reason.isEmpty() ? QStringLiteral("failed") : reason;
                m_changed.notify_all();
            });
        try {
            m_pipe->setUp();
        } catch (const std::exception& e) {
            qWarning() << e.what();
            return false;
        }
        return true;
    }
    void stop()
    {
        // The work thread stops first: its callbacks reach the pipe through m_pipe.
        if (m_pipe)
            m_pipe->shutdown();
        m_pipe.reset();
        m_device.reset();
    }
    USBBulkPipeInterface& pipe() { return *m_pipe; }

    // The predicate runs without the ledger's lock; a change wakes the wait early.
    template<typename Predicate> bool waitFor(Predicate predicate, int ms = kWaitMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!predicate()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::milliseconds(10));
        }
        return true;
    }
    HostConnection connection(uint16_t id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections[id];
    }
    QString failure()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failure;
    }
    // Payload the unit sent beyond the host's grants, and payload for ids never opened.
    QStringList complaints()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_complaints;
    }

    // Opens and, once opened, grants the whole ring as the host does.
    bool open(uint16_t id, uint16_t port)
    {
        return finishOpen(id, m_pipe->sendOpenConnectionTCPMessage(id, port, nullptr));
    }
    bool openTest(uint16_t id, uint8_t a, uint64_t b, uint64_t c)
    {
        return finishOpen(id, m_pipe->sendOpenConnectionTestMessage(id, a, b, c, nullptr));
    }
    bool grant(uint16_t id, uint64_t tokens)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_connections[id].granted += tokens * 1024;
        }
        return m_pipe->sendTokensMessage(id, tokens, nullptr);
    }
    // Sends data within the unit's credit, in messages as large as the credit allows. The
    // host keeps a copy until it stops, as the pipe reads it until the send completes.
    bool send(uint16_t id, const QByteArray& bytes)
    {
        const QByteArray& data = keep(bytes);
        int at = 0;
        while (at < data.size()) {
            uint32_t n = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                HostConnection& c = m_connections[id];
                if (!m_changed.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                        [&] { return c.credit > 0 || c.closed; }) ||
                    c.closed)
                    return false;
                n = uint32_t(std::min<uint64_t>(c.credit, uint64_t(data.size() - at)));
                c.credit -= n;
            }
            if (!m_pipe->sendTransfer(id, data.constData() + at, n, 0, nullptr))
                return false;
            at += int(n);
        }
        return true;
    }
    // One transfer message, whatever the credit.
    bool sendRaw(uint16_t id, const QByteArray& bytes)
    {
        const QByteArray& data = keep(bytes);
        return m_pipe->sendTransfer(id, data.constData(), uint32_t(data.size()), 0, nullptr);
    }
    bool close(uint16_t id)
    {
        return m_pipe->sendCloseConnectionMessage(id, nullptr) &&
               waitFor([&] { return connection(id).closed; });
    }

    void connectionOpened(uint16_t id) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections[id].opened = true;
        m_changed.notify_all();
    }
    void tokensReceived(uint16_t id, uint64_t count) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections[id].credit += uint64_t(count) * 1024;
        m_changed.notify_all();
    }
    void connectionClosed(uint16_t id, uint16_t error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections[id].closed = true;
        m_connections[id].error = error;
        m_changed.notify_all();
    }
    // Every payload is taken: the ledger notes what the unit should not have sent.
    bool payloadBegin(uint16_t id, uint64_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_connections.find(id);
        if (it == m_connections.end() || !it->second.opened) {
            m_complaints
                << QStringLiteral("payload of %1 for unknown connection %2").arg(length).arg(id);
            return true;
        }
        HostConnection& c = it->second;
        c.largestPayload = std::max(c.largestPayload, length);
        c.dataAfterClose = c.dataAfterClose || c.closed;
        if (uint64_t(c.data.size()) + length > c.granted)
            m_complaints << QStringLiteral("payload of %1 on %2 over the grant (%3 of %4 used)")
                                .arg(length)
                                .arg(id)
                                .arg(c.data.size())
                                .arg(c.granted);
        m_changed.notify_all();
        return true;
    }
    void payloadPiece(uint16_t id, const char* data, size_t size) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_connections.find(id);
        // The ledger keeps what fits a ring; an oversized payload is only counted.
        if (it != m_connections.end() && it->second.data.size() < qsizetype(4 << 20))
            it->second.data.append(data, qsizetype(size));
    }
    void payloadEnd(uint16_t id) override
    {
        uint64_t tokens = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_connections.find(id);
            if (it == m_connections.end())
                return;
            HostConnection& c = it->second;
            if (autoGrant && !c.closed) {
                // The reader takes everything at once: grant back each whole KiB received.
                const uint64_t used = uint64_t(c.data.size());
                const uint64_t free = c.granted > used ? c.granted - used : 0;
                const uint64_t want = kHostGrant * 1024 - free;
                tokens = want / 1024;
                c.granted += tokens * 1024;
            }
            m_changed.notify_all();
        }
        if (tokens)
            m_pipe->sendTokensMessage(id, tokens, nullptr);
    }

private:
    const QByteArray& keep(const QByteArray& data)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_kept.push_back(data);
        return m_kept.back();
    }
    bool finishOpen(uint16_t id, bool sent)
    {
        if (!sent || !waitFor([&] {
                const HostConnection c = connection(id);
                return c.opened || c.closed;
            }))
            return false;
        if (!connection(id).opened)
            return false;
        return !autoGrant || grant(id, kHostGrant);
    }

    std::unique_ptr<CVNUSBDevice> m_device;
    std::unique_ptr<USBBulkPipeInterface> m_pipe;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<uint16_t, HostConnection> m_connections;
    QString m_failure;
    QStringList m_complaints;
    std::list<QByteArray> m_kept;
};

// Messages of one kind and type in the unit's log.
int countEvents(const std::vector<NovaTunnelFunction::Event>& log,
                NovaTunnelFunction::Event::Kind kind, uint16_t type)
{
    int n = 0;
    for (const auto& e : log)
        n += e.kind == kind && e.type == type ? 1 : 0;
    return n;
}

// A bulk transfer handed to a unit directly, without the bus; its completion is told.
class BulkTransfer final : public Sim::Transfer
{
public:
    using Completed = std::function<void(uint32_t status, size_t bytes)>;

    BulkTransfer(Kind kind, std::vector<uint8_t> out, uint32_t inLength, Completed completed = {})
        : m_kind(kind)
        , m_out(std::move(out))
        , m_inLength(inLength)
        , m_completed(std::move(completed))
    {
    }
    Kind kind() const override { return m_kind; }
    Sim::ControlSetup setup() const override { return {}; }
    uint8_t interfaceNumber() const override { return 3; }
    uint8_t endpoint() const override { return m_kind == BulkIn ? 0x82 : 0x02; }
    const std::vector<uint8_t>& outData() const override { return m_out; }
    uint32_t inLength() const override { return m_inLength; }
    bool isCancelled() const override { return false; }
    void complete(uint32_t status, const std::vector<uint8_t>& in) override
    {
        if (m_completed)
            m_completed(status, in.size());
    }

private:
    const Kind m_kind;
    const std::vector<uint8_t> m_out;
    const uint32_t m_inLength;
    const Completed m_completed;
};

QStringList violationTexts(const std::vector<NovaTunnelFunction::Event>& violations)
{
    QStringList out;
    for (const auto& e : violations)
        out << QString::fromStdString(e.detail);
    return out;
}

} // namespace

class TestUsbTunnelDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void dataBothWaysIsByteIdentical_data();
    void dataBothWaysIsByteIdentical();
    void webServerAnswersSeveralConnectionsAtOnce();
    void unitSendsNoMoreThanGranted();
    void hostOverTheUnitsGrantIsClosed();
    void testConnections();
    void refusedOpens_data();
    void refusedOpens();
    void wholePacketWritesWaitForTheirEnd();
    void wholePacketAnswersAreEndedByAnEmptyOne();
    void misdeeds_data();
    void misdeeds();
    void unplugMidTransferClosesTheServersConnection();
    void newTunnelStartsClean();
    void linkModelTimesAnswersFromWhenTheyCanCross();

private:
    bool start(Sim::NovaRecorder::Options options = {},
               Sim::NovaTunnelFunction::Faults faults = {});
    NovaTunnelFunction& tunnel() { return m_bench->recorder().tunnel(); }

    std::unique_ptr<NovaBench> m_bench;
    std::unique_ptr<TunnelHost> m_host;
};

void TestUsbTunnelDevice::cleanup()
{
    if (m_host)
        m_host->stop();
    m_host.reset();
    m_bench.reset();
}

bool TestUsbTunnelDevice::start(Sim::NovaRecorder::Options options,
                                Sim::NovaTunnelFunction::Faults faults)
{
    cleanup();
    auto recorder = std::make_shared<Sim::NovaRecorder>(options);
    Sim::NovaRecorder::Faults all;
    all.tunnel = faults;
    recorder->setFaults(all);
    m_bench = std::make_unique<NovaBench>(recorder);
    m_host = std::make_unique<TunnelHost>();
    return m_host->start(*m_bench);
}

void TestUsbTunnelDevice::dataBothWaysIsByteIdentical_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("size");
    QTest::newRow("bulk, version 2") << true << 2 << (3 << 20);
    QTest::newRow("bulk, version 1") << true << 1 << (3 << 20);
    QTest::newRow("control, version 2") << false << 2 << (1 << 20);
    QTest::newRow("control, version 1") << false << 1 << (256 << 10);
}

// Through an echo server: what the host sends comes back whole and in order, while the unit
// honours the host's grants and the host the unit's.
void TestUsbTunnelDevice::dataBothWaysIsByteIdentical()
{
    QFETCH(bool, bulk);
    QFETCH(int, version);
    QFETCH(int, size);
    LoopbackServer server(&LoopbackServer::echo);
    QVERIFY(server.port());
    Sim::NovaRecorder::Options options;
    options.bulkTunnel = bulk;
    Sim::NovaTunnelFunction::Faults faults;
    faults.maxVersion = uint16_t(version);
    QVERIFY(start(options, faults));
    QCOMPARE(m_host->pipe().controlMode(), !bulk);
    QCOMPARE(m_host->pipe().protocol2(), version == 2);
    tunnel().mapPort(kWebPort, server.port());

    QVERIFY(m_host->open(7, kWebPort));
    const QByteArray sent = pattern(size);
    QVERIFY(m_host->send(7, sent));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(7).data.size() >= size; }));
    QVERIFY(m_host->connection(7).data == sent);
    QVERIFY(m_host->close(7));
    QCOMPARE(m_host->connection(7).error, uint16_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(server.finished(), 1, kWaitMs);

    QCOMPARE(m_host->complaints(), QStringList());
    QCOMPARE(violationTexts(tunnel().violations()), QStringList());
    const auto log = tunnel().log();
    // The grant of the unit's window follows the opened message at once.
    QVERIFY(log.size() > 3);
    QCOMPARE(log[1].type, uint16_t(Sim::NovaTunnelWire::ConnectionOpened));
    QCOMPARE(log[2].type, uint16_t(Sim::NovaTunnelWire::Tokens));
    QCOMPARE(log[2].value, uint64_t(Sim::NovaTunnelFunction::Options().window / 1024));
    // The unit's grants never ride in type 7 under version 1.
    if (version == 1)
        QCOMPARE(countEvents(log, NovaTunnelFunction::Event::ToHost,
                             Sim::NovaTunnelWire::TransferTokens),
                 0);
    // The unit's messages were cut across transfers.
    QVERIFY(tunnel().splitAnswers() > 0);
}

void TestUsbTunnelDevice::webServerAnswersSeveralConnectionsAtOnce()
{
    const QByteArray body = pattern(700000, 5);
    LoopbackServer server(LoopbackServer::http(body));
    QVERIFY(start());
    tunnel().mapPort(kWebPort, server.port());
    const QByteArray request = "GET /admin/ HTTP/1.0\r\n\r\n";
    for (uint16_t id = 1; id <= 4; ++id) {
        QVERIFY(m_host->open(id, kWebPort));
        QVERIFY(m_host->send(id, request));
    }
    const QByteArray expected = LoopbackServer::httpResponse(body);
    for (uint16_t id = 1; id <= 4; ++id) {
        // The server's close reaches the host after the response's last byte.
        QVERIFY(m_host->waitFor([&] { return m_host->connection(id).closed; }));
        const HostConnection c = m_host->connection(id);
        QCOMPARE(c.error, uint16_t(0));
        QCOMPARE(c.data.size(), expected.size());
        QVERIFY(c.data == expected);
        QVERIFY(!c.dataAfterClose);
    }
    QCOMPARE(m_host->complaints(), QStringList());
    QCOMPARE(tunnel().openConnections(), size_t(0));
}

void TestUsbTunnelDevice::unitSendsNoMoreThanGranted()
{
    QVERIFY(start());
    m_host->autoGrant = false;
    const uint64_t total = 100000;
    QVERIFY(m_host->openTest(3, NovaTunnelFunction::TestSource, total, 9));
    QVERIFY(m_host->grant(3, 3));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(3).data.size() == 3072; }));
    // Nothing more may come until the host grants again.
    QTest::qWait(200);
    QCOMPARE(m_host->connection(3).data.size(), 3072);
    QVERIFY(m_host->grant(3, 200));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(3).closed; }));
    const QByteArray data = m_host->connection(3).data;
    QCOMPARE(uint64_t(data.size()), total);
    for (uint64_t i = 0; i < total; ++i)
        QCOMPARE(uint8_t(data[qsizetype(i)]), NovaTunnelFunction::testByte(9, i));
    QCOMPARE(m_host->complaints(), QStringList());
}

void TestUsbTunnelDevice::hostOverTheUnitsGrantIsClosed()
{
    QVERIFY(start());
    QVERIFY(m_host->openTest(4, NovaTunnelFunction::TestEcho, 0, 0));
    const uint32_t window = Sim::NovaTunnelFunction::Options().window;
    QVERIFY(m_host->waitFor([&] { return m_host->connection(4).credit == window; }));
    const QByteArray data = pattern(int(window) + 1);
    QVERIFY(m_host->sendRaw(4, data));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(4).closed; }));
    QCOMPARE(m_host->connection(4).error, uint16_t(NovaTunnelFunction::OverCredit));
    QCOMPARE(m_host->connection(4).data.size(), 0);
    QCOMPARE(int(tunnel().violations().size()), 1);
    QCOMPARE(tunnel().openConnections(), size_t(0));
}

void TestUsbTunnelDevice::testConnections()
{
    QVERIFY(start());
    QVERIFY(m_host->openTest(1, NovaTunnelFunction::TestEcho, 0, 0));
    const QByteArray sent = pattern(200000, 3);
    QVERIFY(m_host->send(1, sent));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(1).data.size() == sent.size(); }));
    QVERIFY(m_host->connection(1).data == sent);
    QVERIFY(m_host->close(1));
    // Under version 2 the unit's grants ride on its payload.
    QVERIFY(countEvents(tunnel().log(), NovaTunnelFunction::Event::ToHost,
                        Sim::NovaTunnelWire::TransferTokens) > 0);

    // An empty source closes at once; an unknown test is refused.
    QVERIFY(m_host->openTest(2, NovaTunnelFunction::TestSource, 0, 0));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(2).closed; }));
    QVERIFY(!m_host->openTest(3, 9, 0, 0));
    QCOMPARE(m_host->connection(3).error, uint16_t(NovaTunnelFunction::UnknownTest));
}

void TestUsbTunnelDevice::refusedOpens_data()
{
    QTest::addColumn<bool>("mapped");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<int>("refuseWith");
    QTest::addColumn<int>("error");
    QTest::newRow("port not mapped") << false << true << 0 << int(NovaTunnelFunction::NoRoute);
    QTest::newRow("nothing listens") << true << false << 0 << int(NovaTunnelFunction::Refused);
    QTest::newRow("refusal knob") << true << true << 0x77 << 0x77;
}

void TestUsbTunnelDevice::refusedOpens()
{
    QFETCH(bool, mapped);
    QFETCH(bool, listening);
    QFETCH(int, refuseWith);
    QFETCH(int, error);
    auto server = std::make_unique<LoopbackServer>(&LoopbackServer::echo);
    const uint16_t port = server->port();
    if (!listening)
        server.reset();
    Sim::NovaTunnelFunction::Faults faults;
    faults.refuseOpens = uint16_t(refuseWith);
    QVERIFY(start({}, faults));
    if (mapped)
        tunnel().mapPort(kWebPort, port);
    QVERIFY(!m_host->open(5, kWebPort));
    const HostConnection c = m_host->connection(5);
    QVERIFY(c.closed);
    QVERIFY(!c.opened);
    QCOMPARE(int(c.error), error);
    QCOMPARE(tunnel().openConnections(), size_t(0));
    if (server)
        QCOMPARE(server->accepted(), 0);
}

// A write of whole packets ends with a zero-length one; the unit takes its bytes only then.
void TestUsbTunnelDevice::wholePacketWritesWaitForTheirEnd()
{
    Sim::NovaTunnelFunction::Faults faults;
    faults.maxVersion = 1; // every payload goes after a header of its own
    QVERIFY(start({}, faults));
    QVERIFY(m_host->openTest(1, NovaTunnelFunction::TestEcho, 0, 0));
    m_bench->clearLog();
    const QByteArray sent = pattern(1024);
    QVERIFY(m_host->send(1, sent));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(1).data.size() == sent.size(); }));
    QVERIFY(m_host->connection(1).data == sent);
    std::vector<size_t> sizes;
    for (const Sim::LogEntry& e : m_bench->bulkOut())
        sizes.push_back(e.data.size());
    const std::vector<size_t> expected = {12, 1024, 0};
    QVERIFY(std::search(sizes.begin(), sizes.end(), expected.begin(), expected.end()) !=
            sizes.end());
    QVERIFY(tunnel().zeroLengthPacketsReceived() > 0);
}

// Uncut, the unit's answers fill the host's reads, each then owing a zero-length packet that
// the next read gets; the stream goes on across them unharmed.
void TestUsbTunnelDevice::wholePacketAnswersAreEndedByAnEmptyOne()
{
    Sim::NovaRecorder::Options options;
    options.tunnel.randomCuts = false;
    QVERIFY(start(options));
    const uint64_t total = 1 << 20;
    QVERIFY(m_host->openTest(2, NovaTunnelFunction::TestSource, total, 4));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(2).closed; }));
    const QByteArray data = m_host->connection(2).data;
    QCOMPARE(uint64_t(data.size()), total);
    for (uint64_t i = 0; i < total; ++i)
        QCOMPARE(uint8_t(data[qsizetype(i)]), NovaTunnelFunction::testByte(4, i));
    QVERIFY(tunnel().zeroLengthPacketsSent() > 0);
    QCOMPARE(tunnel().splitAnswers() > 0, true);
}

void TestUsbTunnelDevice::misdeeds_data()
{
    QTest::addColumn<Misdeed>("misdeed");
    QTest::addColumn<bool>("onDemand");
    QTest::addColumn<bool>("bulk");
    const std::pair<const char*, Misdeed> all[] = {
        {"unknown type", Misdeed::UnknownType},
        {"payload over credit", Misdeed::PayloadOverCredit},
        {"payload over ring", Misdeed::PayloadOverRing},
        {"unknown connection", Misdeed::UnknownConnection},
        {"silence", Misdeed::Silence},
        {"unplug", Misdeed::Unplug},
    };
    for (const auto& m : all) {
        QTest::addRow("%s at a host message", m.first) << m.second << false << true;
        QTest::addRow("%s on demand", m.first) << m.second << true << true;
        QTest::addRow("%s on demand, control mode", m.first) << m.second << true << false;
    }
}

// Each misdeed shows on the host as what it is named for, after an echo round trip that
// worked.
void TestUsbTunnelDevice::misdeeds()
{
    QFETCH(Misdeed, misdeed);
    QFETCH(bool, onDemand);
    QFETCH(bool, bulk);
    LoopbackServer server(&LoopbackServer::echo);
    Sim::NovaRecorder::Options options;
    options.bulkTunnel = bulk;
    Sim::NovaTunnelFunction::Faults faults;
    faults.misdeed = onDemand ? Misdeed::None : misdeed;
    faults.atHostMessage = 4; // open, grant, first transfer, then this
    QVERIFY(start(options, faults));
    tunnel().mapPort(kWebPort, server.port());
    QVERIFY(m_host->open(1, kWebPort));
    const QByteArray first = pattern(1000);
    QVERIFY(m_host->send(1, first));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(1).data.size() == first.size(); }));
    QCOMPARE(m_host->complaints(), QStringList());

    const QByteArray second = pattern(3000, 1);
    if (onDemand)
        tunnel().misbehave(misdeed);
    // A tunnel the misdeed already ended takes nothing more.
    const bool endsTunnel = misdeed == Misdeed::Unplug || misdeed == Misdeed::UnknownType;
    QVERIFY(m_host->send(1, second) || endsTunnel);

    switch (misdeed) {
    case Misdeed::UnknownType:
        QVERIFY(m_host->waitFor([&] { return !m_host->failure().isEmpty(); }));
        QVERIFY2(m_host->failure().contains("type 8"), qPrintable(m_host->failure()));
        break;
    case Misdeed::PayloadOverCredit:
    case Misdeed::UnknownConnection:
        QVERIFY(m_host->waitFor([&] { return !m_host->complaints().isEmpty(); }));
        QVERIFY2(m_host->complaints()[0].contains(misdeed == Misdeed::PayloadOverCredit
                                                      ? "over the grant"
                                                      : "unknown connection"),
                 qPrintable(m_host->complaints()[0]));
        break;
    case Misdeed::PayloadOverRing:
        QVERIFY(m_host->waitFor([&] { return m_host->connection(1).largestPayload > (4 << 20); }));
        QCOMPARE(m_host->connection(1).largestPayload, NovaTunnelFunction::kHostRing + 1);
        break;
    case Misdeed::Silence:
        // The echo never comes back, and the unit takes nothing more.
        QTest::qWait(300);
        QCOMPARE(m_host->connection(1).data.size(), first.size());
        QVERIFY(m_host->failure().isEmpty());
        break;
    case Misdeed::Unplug:
        QVERIFY(m_host->waitFor([&] { return !m_host->failure().isEmpty(); }));
        QTRY_COMPARE_WITH_TIMEOUT(server.finished(), 1, kWaitMs);
        break;
    case Misdeed::None:
        break;
    }
    int misbehaved = 0;
    for (const auto& e : tunnel().log())
        misbehaved += e.kind == NovaTunnelFunction::Event::Misbehaved ? 1 : 0;
    QCOMPARE(misbehaved, 1);
}

// Unplugged after a set count of bytes: the host has every byte sent until then, in order,
// and the server's connection is closed.
void TestUsbTunnelDevice::unplugMidTransferClosesTheServersConnection()
{
    const QByteArray body = pattern(2 << 20, 7);
    LoopbackServer server(LoopbackServer::http(body));
    Sim::NovaTunnelFunction::Faults faults;
    faults.misdeed = Misdeed::Unplug;
    faults.afterBytesToHost = 300000;
    QVERIFY(start({}, faults));
    tunnel().mapPort(kWebPort, server.port());
    QVERIFY(m_host->open(1, kWebPort));
    QVERIFY(m_host->send(1, "GET / HTTP/1.0\r\n\r\n"));
    QVERIFY(m_host->waitFor([&] { return !m_host->failure().isEmpty(); }));
    QTRY_COMPARE_WITH_TIMEOUT(server.finished(), 1, kWaitMs);
    const QByteArray data = m_host->connection(1).data;
    QVERIFY(data.size() <= 300000 + int(Sim::NovaTunnelFunction::Options().maxPayload));
    QVERIFY(LoopbackServer::httpResponse(body).startsWith(data));
    // The bus fails the unit's transfers before it marks the unit gone.
    QTRY_VERIFY_WITH_TIMEOUT(!m_bench->recorder().isAttached(), kWaitMs);
}

// A tunnel set up again (reset request) finds no connection of the last one, whose servers
// see their connections closed.
void TestUsbTunnelDevice::newTunnelStartsClean()
{
    LoopbackServer server(&LoopbackServer::echo);
    QVERIFY(start());
    tunnel().mapPort(kWebPort, server.port());
    QVERIFY(m_host->open(1, kWebPort));
    QVERIFY(m_host->open(2, kWebPort));
    QTRY_COMPARE_WITH_TIMEOUT(server.accepted(), 2, kWaitMs);
    m_host->stop();
    QCOMPARE(tunnel().openConnections(), size_t(2));

    m_host = std::make_unique<TunnelHost>();
    QVERIFY(m_host->start(*m_bench));
    QCOMPARE(tunnel().openConnections(), size_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(server.finished(), 2, kWaitMs);
    QVERIFY(m_host->open(1, kWebPort));
    const QByteArray sent = pattern(5000);
    QVERIFY(m_host->send(1, sent));
    QVERIFY(m_host->waitFor([&] { return m_host->connection(1).data.size() == sent.size(); }));
    QVERIFY(m_host->connection(1).data == sent);
}

// The link model on its own, its completions held back as a busy bus worker would: each
// answer's bytes cross from when its read was queued and the unit had them, right behind the
// bytes before them, never sooner than the rate allows, and not later for the completions
// running late.
void TestUsbTunnelDevice::linkModelTimesAnswersFromWhenTheyCanCross()
{
    using Clock = NovaTunnelFunction::Clock;
    constexpr double kRate = 100000; // bytes a second: 16 KiB take 164 ms
    struct Posted
    {
        Clock::time_point due;
        std::function<void()> work;
    };
    std::mutex mutex;
    std::vector<Posted> posted;
    NovaTunnelFunction::Options options;
    options.bytesPerSecond = uint64_t(kRate);
    options.rateBurst = 0;
    options.randomCuts = false;
    NovaTunnelFunction unit(options, {}, [&](Clock::time_point due, std::function<void()> work) {
        std::lock_guard<std::mutex> lock(mutex);
        posted.push_back({due, std::move(work)});
    });
    const auto hostWrites = [&](const QByteArray& message) {
        unit.bulkOut(std::make_shared<BulkTransfer>(
            Sim::Transfer::BulkOut, std::vector<uint8_t>(message.begin(), message.end()), 0));
    };
    // Completion of each read: the link time it was posted for, and its size.
    Clock::time_point running;
    std::vector<std::pair<Clock::time_point, size_t>> answers;
    const auto hostReads = [&] {
        unit.bulkIn(std::make_shared<BulkTransfer>(
            Sim::Transfer::BulkIn, std::vector<uint8_t>(), 65536,
            [&](uint32_t status, size_t bytes) {
                QCOMPARE(status, 0u);
                answers.emplace_back(running, bytes);
            }));
    };

    const uint64_t size = 4 * options.maxPayload;
    hostWrites(CVN::USBTunnelMessage::openConnectionTest(1, NovaTunnelFunction::TestSource,
                                                         size, 2));
    hostReads(); // takes the opened message and the unit's grant
    for (int i = 0; i < 5; ++i)
        hostReads(); // each takes one payload, the last the closed message
    const Clock::time_point granted = Clock::now();
    hostWrites(CVN::USBTunnelMessage::tokens(1, size / 1024));
    QTRY_VERIFY_WITH_TIMEOUT(countEvents(unit.log(), NovaTunnelFunction::Event::ToHost,
                                         Sim::NovaTunnelWire::ConnectionClosed) == 1,
                             kWaitMs);

    // Every completion runs at once, late for most of them.
    std::vector<Posted> work;
    {
        std::lock_guard<std::mutex> lock(mutex);
        work.swap(posted);
    }
    std::stable_sort(work.begin(), work.end(),
                     [](const Posted& a, const Posted& b) { return a.due < b.due; });
    for (Posted& p : work) {
        running = p.due;
        p.work();
    }
    QCOMPARE(int(answers.size()), 6);
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    // The first payload crosses no sooner than its bytes take after the grant let it go.
    QVERIFY(answers[1].second > options.maxPayload);
    QVERIFY(seconds(answers[1].first - granted) >= answers[1].second / kRate);
    for (size_t i = 2; i < answers.size(); ++i) {
        const double gap = seconds(answers[i].first - answers[i - 1].first);
        QVERIFY2(std::abs(gap - answers[i].second / kRate) < 1e-4,
                 qPrintable(QStringLiteral("answer %1: %2 s after the one before, for %3 bytes")
                                .arg(i)
                                .arg(gap)
                                .arg(answers[i].second)));
    }
}

QTEST_MAIN(TestUsbTunnelDevice)
#include "tst_usbtunneldevice.moc"
