#include "loopbackserver.h"
#include "novabench.h"

#include "plugins/webview/transport/tunnelregistry.h"
#include "plugins/webview/transport/usbtunnel.h"

#include <QtTest>

#include <dirent.h>

using Misdeed = Sim::NovaTunnelFunction::Misdeed;

namespace {

constexpr int kWaitMs = 20000;
constexpr uint16_t kWebPort = 80;

int threadCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir))
            count += entry->d_name[0] != '.' ? 1 : 0;
        closedir(dir);
    }
    return count;
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((uint32_t(i) * 29u + uint32_t(seed) * 11u + uint32_t(i >> 10)) & 0xFFu);
    return bytes;
}

// One tunnel connection and what it told, counted on the test's thread (the signals come
// from the tunnel's threads and reach the counts queued).
struct Probe
{
    explicit Probe(CVN::USB::IUSBDevice* device)
        : tunnel(USBTunnel::create(device))
    {
        QObject::connect(tunnel.get(), &AbstractUSBTunnel::connected, &context,
                         [this] { ++connected; });
        QObject::connect(tunnel.get(), &AbstractUSBTunnel::disconnected, &context,
                         [this] { ++disconnected; });
        QObject::connect(tunnel.get(), &AbstractUSBTunnel::bytesWritten, &context,
                         [this](qint64 bytes) { written += bytes; });
    }
    QByteArray readAll()
    {
        QByteArray bytes(int(tunnel->bytesAvailable()), Qt::Uninitialized);
        bytes.resize(int(tunnel->read(bytes.data(), uint64_t(bytes.size()))));
        return bytes;
    }
    // Reads until size bytes came or the connection ended.
    QByteArray readAtLeast(int size)
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < size && timer.elapsed() < kWaitMs) {
            got += readAll();
            if (got.size() < size)
                QTest::qWait(5);
        }
        return got;
    }

    std::shared_ptr<USBTunnel> tunnel;
    QObject context;
    int connected = 0;
    int disconnected = 0;
    qint64 written = 0; // as bytesWritten told
};

// The simulated recorder with its port 80 mapped to an echo server of the test.
struct Fixture
{
    explicit Fixture(Sim::NovaRecorder::Options options = {},
                     Sim::NovaTunnelFunction::Faults faults = {})
        : bench(options)
        , echo(&LoopbackServer::echo)
    {
        bench.recorder().tunnel().mapPort(kWebPort, echo.port());
        bench.recorder().tunnel().setFaults(faults);
        device = bench.device();
    }
    NovaBench bench;
    LoopbackServer echo;
    CVN::USB::IUSBDevice* device = nullptr;
};

// The recorder with port 81 mapped to a server that sends its answer and closes at once, as
// an HTTP/1.0 server does.
struct Download
{
    Download(int size, int seed)
        : answer(pattern(size, seed))
        , source([this](int fd) {
            LoopbackServer::sendAll(fd, answer.constData(), size_t(answer.size()));
        })
    {
        f.bench.recorder().tunnel().mapPort(kPort, source.port());
    }
    static constexpr uint16_t kPort = kWebPort + 1;
    const QByteArray answer;
    LoopbackServer source;
    Fixture f;
};

// Connects with the given stop limits, silences the device and writes 1 MiB that the device
// holds and never takes.
bool writeToASilentDevice(Fixture& f, Probe& p, std::chrono::milliseconds limit)
{
    p.tunnel->setStopLimits(limit, limit);
    p.tunnel->connect(kWebPort);
    if (!QTest::qWaitFor([&p] { return p.connected == 1; }, kWaitMs))
        return false;
    f.bench.recorder().tunnel().misbehave(Misdeed::Silence);
    const QByteArray bytes = pattern(1 << 20, 4);
    p.tunnel->write(bytes.constData(), uint64_t(bytes.size()));
    return true;
}

} // namespace

class tst_USBTunnel : public QObject
{
    Q_OBJECT

private slots:
    void readSizeAdapts_data();
    void readSizeAdapts();
    void carriesBytesBothWays_data();
    void carriesBytesBothWays();
    void connectionsOfOneDeviceShareItsTunnel();
    void refusedOpenNeverConnects();
    void stopWhileOpeningClosesTheDeviceSide();
    void deviceCloseAfterItsLastBytesDeliversThemAll();
    void readerThatTakesNothingHoldsTheDeviceBack();
    void tunnelFailureEndsEveryConnection_data();
    void tunnelFailureEndsEveryConnection();
    void stopOfASilentDeviceIsBounded();
    // Shuts the registry down: keep it last.
    void registryShutdownJoinsThreadsLeftToASilentDevice();
};

void tst_USBTunnel::readSizeAdapts_data()
{
    QTest::addColumn<quint64>("size");
    QTest::addColumn<quint64>("got");
    QTest::addColumn<quint64>("next");
    QTest::newRow("filled 512") << quint64(512) << quint64(512) << quint64(1024);
    QTest::newRow("filled at the cap") << quint64(131072) << quint64(131072) << quint64(131072);
    QTest::newRow("under half of 1024") << quint64(1024) << quint64(300) << quint64(512);
    QTest::newRow("under half of the floor") << quint64(512) << quint64(300) << quint64(512);
    QTest::newRow("half or more") << quint64(4096) << quint64(2048) << quint64(4096);
    QTest::newRow("nothing") << quint64(8192) << quint64(0) << quint64(4096);
}

void tst_USBTunnel::readSizeAdapts()
{
    QFETCH(quint64, size);
    QFETCH(quint64, got);
    QFETCH(quint64, next);
    QCOMPARE(USBTunnel::nextReadSize(size, got), next);
}

void tst_USBTunnel::carriesBytesBothWays_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<int>("version");
    QTest::newRow("bulk, protocol 2") << true << 2;
    QTest::newRow("bulk, protocol 1") << true << 1;
    QTest::newRow("control mode") << false << 2;
}

void tst_USBTunnel::carriesBytesBothWays()
{
    QFETCH(bool, bulk);
    QFETCH(int, version);
    Sim::NovaRecorder::Options options;
    options.bulkTunnel = bulk;
    Sim::NovaTunnelFunction::Faults faults;
    faults.maxVersion = uint16_t(version);
    Fixture f(options, faults);
    QVERIFY(f.device);

    Probe p(f.device);
    p.tunnel->connect(kWebPort);
    QVERIFY(p.tunnel->connectionId() != 0);
    // Written before the device answered: waits in the queue.
    const QByteArray first = pattern(3000, 1);
    p.tunnel->write(first.constData(), uint64_t(first.size()));
    QTRY_COMPARE_WITH_TIMEOUT(p.connected, 1, kWaitMs);

    const QByteArray rest = pattern(bulk ? (6 << 20) : (1 << 20), 2);
    for (int at = 0; at < rest.size(); at += 65536)
        p.tunnel->write(rest.constData() + at, uint64_t(qMin(65536, int(rest.size()) - at)));
    const QByteArray expected = first + rest;
    const QByteArray got = p.readAtLeast(expected.size());
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
    QTRY_COMPARE_WITH_TIMEOUT(p.written, qint64(expected.size()), kWaitMs);
    QCOMPARE(p.tunnel->bytesToWrite(), uint64_t(0));

    p.tunnel->closeConnection();
    p.tunnel->closeConnection();
    QCOMPARE(p.disconnected, 1);
    QCOMPARE(p.connected, 1);
    QCOMPARE(p.tunnel->connectionId(), uint16_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(f.bench.recorder().tunnel().openConnections(), size_t(0), kWaitMs);
    QVERIFY(f.bench.recorder().tunnel().violations().empty());
}

void tst_USBTunnel::connectionsOfOneDeviceShareItsTunnel()
{
    Fixture f;
    QVERIFY(f.device);
    Probe a(f.device);
    Probe b(f.device);
    // A second engine could not claim the interface: both connecting shows they share one.
    a.tunnel->connect(kWebPort);
    a.tunnel->connect(kWebPort);
    b.tunnel->connect(kWebPort);
    QTRY_VERIFY_WITH_TIMEOUT(a.connected == 1 && b.connected == 1, kWaitMs);
    QVERIFY(a.tunnel->connectionId() != 0);
    QVERIFY(b.tunnel->connectionId() != 0);
    QVERIFY(a.tunnel->connectionId() != b.tunnel->connectionId());
    QCOMPARE(f.bench.recorder().tunnel().openConnections(), size_t(2));

    a.tunnel->write("to a", 4);
    b.tunnel->write("to b", 4);
    QCOMPARE(a.readAtLeast(4), QByteArray("to a"));
    QCOMPARE(b.readAtLeast(4), QByteArray("to b"));

    // The device's own close of one leaves the other working.
    a.tunnel->closeConnection();
    b.tunnel->write("still", 5);
    QCOMPARE(b.readAtLeast(5), QByteArray("still"));
    QCOMPARE(b.disconnected, 0);
}

void tst_USBTunnel::refusedOpenNeverConnects()
{
    Sim::NovaTunnelFunction::Faults faults;
    faults.refuseOpens = Sim::NovaTunnelFunction::Refused;
    Fixture f({}, faults);
    QVERIFY(f.device);
    Probe p(f.device);
    p.tunnel->connect(kWebPort);
    QTRY_COMPARE_WITH_TIMEOUT(p.disconnected, 1, kWaitMs);
    QTest::qWait(50);
    QCOMPARE(p.connected, 0);
    QCOMPARE(p.disconnected, 1);
    QCOMPARE(p.tunnel->connectionId(), uint16_t(0));
    // The tunnel itself stays up for the next connection.
    f.bench.recorder().tunnel().setFaults({});
    Probe next(f.device);
    next.tunnel->connect(kWebPort);
    QTRY_COMPARE_WITH_TIMEOUT(next.connected, 1, kWaitMs);
}

void tst_USBTunnel::stopWhileOpeningClosesTheDeviceSide()
{
    Fixture f;
    QVERIFY(f.device);
    Probe p(f.device);
    p.tunnel->connect(kWebPort);
    p.tunnel->closeConnection();
    QCOMPARE(p.disconnected, 1);
    // The device's answer comes after the stop: its connection must not stay open there.
    QTRY_COMPARE_WITH_TIMEOUT(f.echo.accepted(), 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.bench.recorder().tunnel().openConnections(), size_t(0), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.echo.finished(), 1, kWaitMs);
    QCOMPARE(p.connected, 0);
}

void tst_USBTunnel::deviceCloseAfterItsLastBytesDeliversThemAll()
{
    Download d(3 << 20, 5);
    QVERIFY(d.f.device);
    Probe p(d.f.device);
    p.tunnel->connect(Download::kPort);
    // Some of its last bytes still wait in the engine when the close comes.
    QTRY_COMPARE_WITH_TIMEOUT(p.disconnected, 1, kWaitMs);
    const QByteArray got = p.readAll();
    QCOMPARE(got.size(), d.answer.size());
    QVERIFY(got == d.answer);
}

// Bytes queued for a reader that takes none stop near the queue's limit, however much the
// server has to send: the rest waits in the engine's ring and, its credit spent, on the
// device. Once read, every byte arrives in order, and the close after them.
void tst_USBTunnel::readerThatTakesNothingHoldsTheDeviceBack()
{
    Download d(32 << 20, 6);
    QVERIFY(d.f.device);
    Probe p(d.f.device);
    p.tunnel->connect(Download::kPort);
    QTRY_VERIFY_WITH_TIMEOUT(p.tunnel->bytesAvailable() >= USBTunnel::kReadQueueLimit, kWaitMs);
    QTest::qWait(300);
    QVERIFY2(p.tunnel->bytesAvailable() <= USBTunnel::kReadQueueLimit + USBTunnel::kMaxReadSize,
             qPrintable(QString::number(p.tunnel->bytesAvailable())));
    QCOMPARE(p.disconnected, 0);

    const QByteArray got = p.readAtLeast(d.answer.size());
    QCOMPARE(got.size(), d.answer.size());
    QVERIFY(got == d.answer);
    QTRY_COMPARE_WITH_TIMEOUT(p.disconnected, 1, kWaitMs);
}

void tst_USBTunnel::tunnelFailureEndsEveryConnection_data()
{
    QTest::addColumn<Misdeed>("misdeed");
    QTest::newRow("unplugged") << Misdeed::Unplug;
    QTest::newRow("unknown message type") << Misdeed::UnknownType;
    QTest::newRow("payload over the ring") << Misdeed::PayloadOverRing;
    QTest::newRow("payload for an unknown connection") << Misdeed::UnknownConnection;
}

void tst_USBTunnel::tunnelFailureEndsEveryConnection()
{
    QFETCH(Misdeed, misdeed);
    Fixture f;
    QVERIFY(f.device);
    Probe a(f.device);
    Probe b(f.device);
    a.tunnel->connect(kWebPort);
    b.tunnel->connect(kWebPort);
    QTRY_VERIFY_WITH_TIMEOUT(a.connected == 1 && b.connected == 1, kWaitMs);
    // Mid-transfer: the echo keeps bytes flowing when the device misbehaves.
    const QByteArray bytes = pattern(2 << 20, 3);
    a.tunnel->write(bytes.constData(), uint64_t(bytes.size()));
    QTRY_VERIFY_WITH_TIMEOUT(a.tunnel->bytesAvailable() > 0, kWaitMs);
    f.bench.recorder().tunnel().misbehave(misdeed);

    QTRY_VERIFY_WITH_TIMEOUT(a.disconnected == 1 && b.disconnected == 1, kWaitMs);
    QCOMPARE(a.tunnel->connectionId(), uint16_t(0));
    // What arrived before stays readable, and is what was sent.
    const QByteArray got = a.readAll();
    QVERIFY(bytes.startsWith(got));
    QTest::qWait(50);
    QCOMPARE(a.disconnected, 1);
    QCOMPARE(b.disconnected, 1);
}

void tst_USBTunnel::stopOfASilentDeviceIsBounded()
{
    Fixture f;
    QVERIFY(f.device);
    Probe p(f.device);
    QVERIFY(writeToASilentDevice(f, p, std::chrono::milliseconds(300)));
    QTest::qWait(100);

    QElapsedTimer timer;
    timer.start();
    p.tunnel->closeConnection();
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(p.disconnected, 1);
    QCOMPARE(p.tunnel->connectionId(), uint16_t(0));
}

// A connection left to a silent device keeps its read and write threads waiting on the
// engine; as the registry goes they must end and be joined, not be let go to run on while
// the process takes down what they use.
void tst_USBTunnel::registryShutdownJoinsThreadsLeftToASilentDevice()
{
    Fixture f;
    QVERIFY(f.device);
    Probe p(f.device);
    QVERIFY(writeToASilentDevice(f, p, std::chrono::milliseconds(100)));
    QTest::qWait(50);
    p.tunnel->closeConnection();
    QCOMPARE(p.disconnected, 1);
    const int before = threadCount();

    QElapsedTimer timer;
    timer.start();
    TunnelRegistry::instance().shutdown();
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    // The connection's read and write threads, and the engine's work and keep-alive threads.
    QVERIFY2(threadCount() <= before - 4,
             qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(threadCount())));
}

QTEST_GUILESS_MAIN(tst_USBTunnel)
#include "tst_usbtunnel.moc"
