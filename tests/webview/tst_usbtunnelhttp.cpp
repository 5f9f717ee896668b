#include "loopbackserver.h"
#include "novabench.h"

#include "plugins/webview/transport/usbtunnelproxystore.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using Misdeed = Sim::NovaTunnelFunction::Misdeed;

namespace {

constexpr int kWaitMs = 120000;
// A small answer or a close: far less than the large transfers need, so a stall fails fast.
constexpr int kShortWaitMs = 20000;
constexpr uint16_t kWebPort = 80;
constexpr int kLargeSize = 64 << 20;

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((uint32_t(i) * 53u + uint32_t(seed) * 17u + uint32_t(i >> 11)) & 0xFFu);
    return bytes;
}

QByteArray smallBody(int n)
{
    return "small " + QByteArray::number(n) + ' ' + pattern(100 + (n * 677) % 9000, n);
}

// Serves "/large" and "/small/<n>", HTTP/1.0: the server closes after each answer.
LoopbackServer::Handler webServer(const QByteArray& large)
{
    return [large](int fd) {
        const QByteArray request = LoopbackServer::readRequest(fd);
        const QByteArray path = request.split(' ').value(1);
        const QByteArray body = path == "/large"             ? large
                                : path.startsWith("/small/") ? smallBody(path.mid(7).toInt())
                                                             : QByteArray("unknown");
        const QByteArray response = LoopbackServer::httpResponse(body);
        LoopbackServer::sendAll(fd, response.constData(), size_t(response.size()));
    };
}

// The simulated recorder, its port 80 mapped to the test's web server, and a proxy store
// for it as the web view would use it.
struct Fixture
{
    explicit Fixture(QByteArray largeBody = {})
        : large(std::move(largeBody))
        , server(webServer(large))
    {
        bench.recorder().tunnel().mapPort(kWebPort, server.port());
        device = bench.device();
        if (device)
            store = std::make_unique<USBTunnelProxyStore>(device);
        manager.setProxy(QNetworkProxy::NoProxy);
    }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(store->serverPort()).arg(path));
    }

    QByteArray large;
    NovaBench bench;
    LoopbackServer server;
    CVN::USB::IUSBDevice* device = nullptr;
    std::unique_ptr<USBTunnelProxyStore> store;
    QNetworkAccessManager manager;
};

bool waitFinished(QNetworkReply* reply, int limitMs = kWaitMs)
{
    if (!reply->isFinished())
        QSignalSpy(reply, &QNetworkReply::finished).wait(limitMs);
    return reply->isFinished();
}

} // namespace

class tst_USBTunnelHttp : public QObject
{
    Q_OBJECT

private slots:
    void largeFileArrivesWhole();
    void manySmallRequests();
    void servesOnAnotherPortWhenTheFirstIsTaken();
    void unplugMidTransferClosesTheClients();
};

void tst_USBTunnelHttp::largeFileArrivesWhole()
{
    Fixture f(pattern(kLargeSize, 1));
    QVERIFY(f.store);
    std::unique_ptr<QNetworkReply> reply(f.manager.get(QNetworkRequest(f.url("/large"))));
    QVERIFY(waitFinished(reply.get()));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    const QByteArray body = reply->readAll();
    QCOMPARE(body.size(), f.large.size());
    QVERIFY(body == f.large);
    QVERIFY(f.bench.recorder().tunnel().violations().empty());
}

void tst_USBTunnelHttp::manySmallRequests()
{
    Fixture f;
    QVERIFY(f.store);
    // Half one after another, half at once (the manager runs several connections).
    for (int n = 0; n < 100; ++n) {
        std::unique_ptr<QNetworkReply> reply(
            f.manager.get(QNetworkRequest(f.url(QStringLiteral("/small/%1").arg(n)))));
        QVERIFY(waitFinished(reply.get(), kShortWaitMs));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QVERIFY2(reply->readAll() == smallBody(n), qPrintable(QString::number(n)));
    }
    std::vector<std::unique_ptr<QNetworkReply>> replies;
    for (int n = 100; n < 200; ++n)
        replies.emplace_back(
            f.manager.get(QNetworkRequest(f.url(QStringLiteral("/small/%1").arg(n)))));
    for (int n = 100; n < 200; ++n) {
        QNetworkReply* reply = replies[size_t(n - 100)].get();
        QVERIFY(waitFinished(reply, kShortWaitMs));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QVERIFY2(reply->readAll() == smallBody(n), qPrintable(QString::number(n)));
    }
    // The manager may hold a connection it opened and never used, for two minutes: a proxy
    // rightly serves its client as long as the client stays.
    f.manager.clearConnectionCache();
    QTRY_COMPARE_WITH_TIMEOUT(f.store->proxyCount(), 0, kShortWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.bench.recorder().tunnel().openConnections(), size_t(0),
                              kShortWaitMs);
    QVERIFY(f.bench.recorder().tunnel().violations().empty());
}

void tst_USBTunnelHttp::servesOnAnotherPortWhenTheFirstIsTaken()
{
    // Held by this test, or already by another test of the run.
    QTcpServer program;
    program.listen(QHostAddress::LocalHost, USBTunnelProxyStore::kPreferredPort);
    Fixture f;
    QVERIFY(f.store);
    QVERIFY(f.store->serverPort() != USBTunnelProxyStore::kPreferredPort);
    std::unique_ptr<QNetworkReply> reply(f.manager.get(QNetworkRequest(f.url("/small/7"))));
    QVERIFY(waitFinished(reply.get()));
    QCOMPARE(reply->readAll(), smallBody(7));
}

void tst_USBTunnelHttp::unplugMidTransferClosesTheClients()
{
    Fixture f(pattern(kLargeSize / 4, 2));
    QVERIFY(f.store);
    QTcpSocket a;
    QTcpSocket b;
    for (QTcpSocket* client : {&a, &b}) {
        client->connectToHost(QHostAddress::LocalHost, f.store->serverPort());
        QVERIFY(client->waitForConnected(kWaitMs));
    }
    // The unit leaves once 2 MiB went to the host: mid-transfer however fast the tunnel is.
    Sim::NovaTunnelFunction::Faults faults;
    faults.misdeed = Misdeed::Unplug;
    faults.afterBytesToHost = 2 << 20;
    f.bench.recorder().tunnel().setFaults(faults);
    a.write("GET /large HTTP/1.0\r\n\r\n");
    const QByteArray expected = LoopbackServer::httpResponse(f.large);
    QByteArray got;

    // Both local connections close, the idle one too; what came is what was sent.
    QTRY_VERIFY_WITH_TIMEOUT((got += a.readAll(), a.state() == QAbstractSocket::UnconnectedState),
                             kWaitMs);
    got += a.readAll();
    QTRY_COMPARE_WITH_TIMEOUT(b.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QVERIFY(got.size() < expected.size());
    QVERIFY(expected.startsWith(got));
    QTRY_COMPARE_WITH_TIMEOUT(f.store->proxyCount(), 0, kWaitMs);
}

QTEST_GUILESS_MAIN(tst_USBTunnelHttp)
#include "tst_usbtunnelhttp.moc"
