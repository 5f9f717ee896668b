#include "plugins/webview/transport/abstractusbtunnel.h"
#include "plugins/webview/transport/usbtunnelproxy.h"
#include "plugins/webview/transport/usbtunnelproxystore.h"
#include "plugins/webview/transport/usbtunneltcpsocket.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kWaitMs = 20000;

// Stands in for a tunnel connection: what the proxy writes is recorded, what the test lets
// the "device" send is handed out by read(). Like the real one, it reports from other
// threads, and closing emits disconnected at once.
class FakeTunnel : public AbstractUSBTunnel
{
public:
    enum Answer { Accept, Refuse, Throw, Hold };

    explicit FakeTunnel(Answer answer)
        : m_answer(answer)
    {
    }

    void connect(uint16_t port) override
    {
        if (m_answer == Throw)
            throw std::runtime_error("Device does not have the pipe interface.");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_port = port;
        m_id = 7;
        m_running = true;
        if (m_answer != Hold)
            answerLocked(m_answer == Accept);
    }
    uint16_t connectionId() const override { return m_id; }
    void closeConnection() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closedByHost = true;
            if (!std::exchange(m_running, false))
                return;
        }
        emit disconnected();
    }
    void write(const char* data, uint64_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_written.append(data, qsizetype(length));
        if (!m_holdWrites)
            m_taken = m_written.size();
    }
    uint64_t bytesToWrite() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return uint64_t(m_written.size() - m_taken);
    }
    uint64_t read(char* dest, uint64_t max) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qsizetype n = qMin(qsizetype(max), m_incoming.size() - m_readAt);
        memcpy(dest, m_incoming.constData() + m_readAt, size_t(n));
        m_readAt += n;
        if (m_readAt == m_incoming.size()) {
            m_incoming.clear();
            m_readAt = 0;
        }
        return uint64_t(n);
    }
    uint64_t bytesAvailable() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return uint64_t(m_incoming.size() - m_readAt);
    }

    // The device's side.
    void answer(bool accept)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answerLocked(accept);
    }
    void deviceSends(const QByteArray& bytes)
    {
        std::thread([this, bytes] {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_incoming.append(bytes);
            }
            emit readyRead();
        }).join();
    }
    // Written bytes stay queued until the device takes them.
    void holdWrites()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdWrites = true;
    }
    void deviceTakesWhatWasWritten()
    {
        std::thread([this] {
            qint64 taken = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                taken = m_written.size() - std::exchange(m_taken, m_written.size());
            }
            if (taken > 0)
                emit bytesWritten(taken);
        }).join();
    }
    void deviceCloses()
    {
        std::thread([this] {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!std::exchange(m_running, false))
                    return;
            }
            emit disconnected();
        }).join();
    }
    QByteArray written() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_written;
    }
    bool closedByHost() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closedByHost;
    }
    uint16_t port() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_port;
    }

private:
    void answerLocked(bool accept)
    {
        if (!accept)
            m_running = false;
        std::thread([this, accept] {
            if (accept)
                emit connected();
            else
                emit disconnected();
        }).join();
    }

    const Answer m_answer;
    mutable std::mutex m_mutex;
    uint16_t m_port = 0;
    uint16_t m_id = 0;
    bool m_running = false;
    bool m_closedByHost = false;
    QByteArray m_written;
    bool m_holdWrites = false;
    qsizetype m_taken = 0; // what the device took of m_written
    QByteArray m_incoming;
    qsizetype m_readAt = 0; // what read() took of m_incoming
};

// A store whose every connection gets a fake tunnel answering as told.
struct Fixture
{
    explicit Fixture(FakeTunnel::Answer answer = FakeTunnel::Accept)
        : store([this, answer] {
            auto tunnel = std::make_shared<FakeTunnel>(answer);
            tunnels.push_back(tunnel);
            return tunnel;
        })
    {
    }
    std::vector<std::shared_ptr<FakeTunnel>> tunnels;
    USBTunnelProxyStore store;
};

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((uint32_t(i) * 131u + uint32_t(seed) * 7u + uint32_t(i >> 9)) & 0xFFu);
    return bytes;
}

// Reads until the peer closes; what arrived.
QByteArray readToEnd(QTcpSocket& client)
{
    QByteArray all;
    QElapsedTimer timer;
    timer.start();
    // The proxy shares this thread: its event loop must run while the client waits.
    while (client.state() == QAbstractSocket::ConnectedState && timer.elapsed() < kWaitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        all += client.readAll();
    }
    all += client.readAll();
    return all;
}

bool connectClient(QTcpSocket& client, const QHostAddress& address, uint16_t port)
{
    client.connectToHost(address, port);
    return client.waitForConnected(kWaitMs);
}

} // namespace

class tst_USBTunnelProxy : public QObject
{
    Q_OBJECT

private slots:
    void listensOnLoopbackOnly_data();
    void listensOnLoopbackOnly();
    void takesAnotherPortWhenTheFirstIsTaken_data();
    void takesAnotherPortWhenTheFirstIsTaken();
    void relaysBothWays();
    void clientBytesSentBeforeTheTunnelConnectsArrive();
    void clientCloseClosesTheTunnel();
    void deviceCloseDeliversEveryByteThenCloses();
    void slowClientLeavesTheRestInTheTunnel();
    void slowDeviceHoldsTheClientBack();
    void unopenedTunnelClosesTheClient_data();
    void unopenedTunnelClosesTheClient();
    void socketOpenRules();
};

void tst_USBTunnelProxy::listensOnLoopbackOnly_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
    QTest::newRow("127.0.0.2") << "127.0.0.2" << false;
    QTest::newRow("127.1.2.3") << "127.1.2.3" << false;
}

void tst_USBTunnelProxy::listensOnLoopbackOnly()
{
    QFETCH(QString, address);
    QFETCH(bool, reachable);
    Fixture f;
    QVERIFY(f.store.serverPort() != 0);

    QTcpSocket client;
    QCOMPARE(connectClient(client, QHostAddress(address), f.store.serverPort()), reachable);
}

void tst_USBTunnelProxy::takesAnotherPortWhenTheFirstIsTaken_data()
{
    QTest::addColumn<QString>("takenOn");
    QTest::newRow("another store") << QString();
    QTest::newRow("a program on 127.0.0.1") << "127.0.0.1";
    QTest::newRow("a program on every address") << "0.0.0.0";
}

void tst_USBTunnelProxy::takesAnotherPortWhenTheFirstIsTaken()
{
    QFETCH(QString, takenOn);
    QTcpServer program;
    std::unique_ptr<Fixture> first;
    if (takenOn.isEmpty()) {
        first = std::make_unique<Fixture>();
        // Another test of the run may hold the port already; then it is taken all the same.
        QTcpServer probe;
        QVERIFY(first->store.serverPort() == USBTunnelProxyStore::kPreferredPort ||
                !probe.listen(QHostAddress::LocalHost, USBTunnelProxyStore::kPreferredPort));
    } else if (!program.listen(QHostAddress(takenOn), USBTunnelProxyStore::kPreferredPort)) {
        // Held by another test of the run: taken all the same.
        QTcpServer probe;
        QVERIFY(!probe.listen(QHostAddress::LocalHost, USBTunnelProxyStore::kPreferredPort));
    }

    Fixture f;
    QVERIFY(f.store.serverPort() != 0);
    QVERIFY(f.store.serverPort() != USBTunnelProxyStore::kPreferredPort);
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    client.write("GET / HTTP/1.0\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(1), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels[0]->written(), QByteArray("GET / HTTP/1.0\r\n\r\n"),
                              kWaitMs);
    QCOMPARE(f.tunnels[0]->port(), USBTunnelProxyStore::kDevicePort);
}

void tst_USBTunnelProxy::relaysBothWays()
{
    Fixture f;
    QTcpSocket a;
    QTcpSocket b;
    QVERIFY(connectClient(a, QHostAddress::LocalHost, f.store.serverPort()));
    QVERIFY(connectClient(b, QHostAddress::LocalHost, f.store.serverPort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(2), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 2, kWaitMs);

    // Each client's bytes reach its own tunnel and only that one, and back.
    const QByteArray up[2] = {pattern(3 << 20, 1), pattern(100000, 2)};
    const QByteArray down[2] = {pattern(2 << 20, 3), pattern(777, 4)};
    a.write(up[0]);
    b.write(up[1]);
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels[0]->written().size() + f.tunnels[1]->written().size(),
                              up[0].size() + up[1].size(), kWaitMs);
    const int ofA = f.tunnels[0]->written() == up[0] ? 0 : 1;
    QCOMPARE(f.tunnels[ofA]->written(), up[0]);
    QCOMPARE(f.tunnels[1 - ofA]->written(), up[1]);

    for (int piece = 0; piece < 4; ++piece)
        f.tunnels[ofA]->deviceSends(down[0].mid(piece * (down[0].size() / 4), down[0].size() / 4));
    f.tunnels[1 - ofA]->deviceSends(down[1]);
    QByteArray atA;
    QByteArray atB;
    QTRY_VERIFY_WITH_TIMEOUT((atA += a.readAll()).size() == down[0].size() &&
                                 (atB += b.readAll()).size() == down[1].size(),
                             kWaitMs);
    QCOMPARE(atA, down[0]);
    QCOMPARE(atB, down[1]);
}

void tst_USBTunnelProxy::clientBytesSentBeforeTheTunnelConnectsArrive()
{
    Fixture f(FakeTunnel::Hold);
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    client.write("early bytes");
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(1), kWaitMs);
    f.tunnels[0]->answer(true);
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels[0]->written(), QByteArray("early bytes"), kWaitMs);
    f.tunnels[0]->deviceSends("late answer");
    QByteArray got;
    QTRY_COMPARE_WITH_TIMEOUT(got += client.readAll(), QByteArray("late answer"), kWaitMs);
}

void tst_USBTunnelProxy::clientCloseClosesTheTunnel()
{
    Fixture f;
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 1, kWaitMs);
    const QByteArray last = pattern(500000, 5);
    client.write(last);
    client.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(f.tunnels[0]->closedByHost(), kWaitMs);
    QCOMPARE(f.tunnels[0]->written(), last);
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 0, kWaitMs);
}

void tst_USBTunnelProxy::deviceCloseDeliversEveryByteThenCloses()
{
    Fixture f;
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(1), kWaitMs);
    // More than the kernel takes at once: the rest waits in the local socket as it closes.
    const QByteArray answer = pattern(24 << 20, 6);
    f.tunnels[0]->deviceSends(answer);
    f.tunnels[0]->deviceCloses();
    const QByteArray got = readToEnd(client);
    QCOMPARE(got.size(), answer.size());
    QVERIFY(got == answer);
    QCOMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 0, kWaitMs);
}

// A client that reads nothing: the proxy stops taking the device's bytes once the local
// socket holds its share, so the rest waits in the tunnel (whose credit holds the device
// back) instead of in the proxy's memory. Once the client reads, every byte arrives.
void tst_USBTunnelProxy::slowClientLeavesTheRestInTheTunnel()
{
    Fixture f;
    QTcpSocket client;
    client.setReadBufferSize(65536); // takes no more from the kernel than this
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(1), kWaitMs);
    const QByteArray answer = pattern(32 << 20, 7);
    f.tunnels[0]->deviceSends(answer);
    QTest::qWait(300);
    // The kernel holds a few MiB between the sockets, the local socket at most 1 MiB more.
    QVERIFY2(f.tunnels[0]->bytesAvailable() > uint64_t(16 << 20),
             qPrintable(QString::number(f.tunnels[0]->bytesAvailable())));

    f.tunnels[0]->deviceCloses();
    client.setReadBufferSize(0);
    const QByteArray got = readToEnd(client);
    QCOMPARE(got.size(), answer.size());
    QVERIFY(got == answer);
}

// A device that takes nothing: the proxy puts at most its backlog into the tunnel and its
// local socket buffers no more, so the rest of a large upload waits with the client (TCP holds
// it back) instead of in the tunnel's queue. As the device takes bytes, every byte follows.
void tst_USBTunnelProxy::slowDeviceHoldsTheClientBack()
{
    Fixture f;
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(1), kWaitMs);
    FakeTunnel& tunnel = *f.tunnels[0];
    tunnel.holdWrites();
    const QByteArray upload = pattern(32 << 20, 5);
    client.write(upload);
    QTest::qWait(300);
    const qsizetype queued = tunnel.written().size();
    QVERIFY2(queued >= USBTunnelProxy::kTunnelBacklog &&
                 queued <= USBTunnelProxy::kTunnelBacklog + USBTunnelProxy::kPiece,
             qPrintable(QString::number(queued)));
    QVERIFY(client.bytesToWrite() > 0);

    QTRY_VERIFY_WITH_TIMEOUT((tunnel.deviceTakesWhatWasWritten(),
                              tunnel.written().size() == upload.size()),
                             kWaitMs);
    QVERIFY(tunnel.written() == upload);
}

void tst_USBTunnelProxy::unopenedTunnelClosesTheClient_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("device refuses the open") << int(FakeTunnel::Refuse);
    QTest::newRow("the tunnel throws as it opens") << int(FakeTunnel::Throw);
}

void tst_USBTunnelProxy::unopenedTunnelClosesTheClient()
{
    QFETCH(int, answer);
    Fixture f{FakeTunnel::Answer(answer)};
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, f.store.serverPort()));
    client.write("GET / HTTP/1.0\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.store.proxyCount(), 0, kWaitMs);

    // The store still serves the next client.
    QTcpSocket next;
    QVERIFY(connectClient(next, QHostAddress::LocalHost, f.store.serverPort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.tunnels.size(), size_t(2), kWaitMs);
}

void tst_USBTunnelProxy::socketOpenRules()
{
    USBTunnelTCPSocket socket;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no USB tunnel specified"));
    QVERIFY(!socket.open(QIODevice::ReadWrite));
    char byte = 0;
    QCOMPARE(socket.read(&byte, 1), qint64(-1));

    auto tunnel = std::make_shared<FakeTunnel>(FakeTunnel::Hold);
    socket.setTunnel(tunnel);
    socket.setPort(80);
    QVERIFY(socket.open(QIODevice::ReadWrite));
    QCOMPARE(socket.connectionId(), uint16_t(7));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("already open"));
    QVERIFY(!socket.open(QIODevice::ReadWrite));
    // Taken whole before the device answered: the bytes wait in the tunnel.
    QCOMPARE(socket.write("abcdef", 6), qint64(6));
    QCOMPARE(tunnel->written(), QByteArray("abcdef"));
    QCOMPARE(socket.socketState(), USBTunnelTCPSocket::UnconnectedState);

    QSignalSpy connected(&socket, &USBTunnelTCPSocket::connected);
    QSignalSpy disconnected(&socket, &USBTunnelTCPSocket::disconnected);
    tunnel->answer(true);
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, kWaitMs);
    QCOMPARE(socket.socketState(), USBTunnelTCPSocket::ConnectedState);
    socket.close();
    QVERIFY(tunnel->closedByHost());
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(socket.socketState(), USBTunnelTCPSocket::UnconnectedState);
    QCOMPARE(socket.connectionId(), uint16_t(0));
}

QTEST_GUILESS_MAIN(tst_USBTunnelProxy)
#include "tst_usbtunnelproxy.moc"
