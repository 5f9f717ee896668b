#include "discovery/dns/socket.h"
#include "discovery/threading/once.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <thread>

using CVN::Socket;

namespace {

std::atomic<int> initialised{0};
void countInitialisation()
{
    ++initialised;
}

QString dotted(const sockaddr_in& in)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

class TestSocket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parseAddress_data();
    void parseAddress();
    void refusedOperations_data();
    void refusedOperations();
    void datagramsOverLoopback();
    void overLongDatagramIsAnError();
    void shutdownWakesBlockedReceive();
    void secondBindOnAnAddressInUse();
    void streamOverLoopback();
    void untranslatedErrorsGiveOne();
    void onceRunsItsInitialiserOnce();
};

void TestSocket::parseAddress_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::newRow("dotted quad") << QByteArray("192.168.4.20:5353") << 0 << "192.168.4.20" << 5353;
    QTest::newRow("port 0") << QByteArray("127.0.0.1:0") << 0 << "127.0.0.1" << 0;
    QTest::newRow("localhost") << QByteArray("localhost:80") << 0 << "127.0.0.1" << 80;
    QTest::newRow("no colon") << QByteArray("192.168.4.20") << 6 << "" << 0;
    QTest::newRow("null") << QByteArray() << 6 << "" << 0;
    // Mistyped numbers are errors, never 255.255.255.255 or 0.0.0.0.
    QTest::newRow("three parts") << QByteArray("192.168.4:5353") << 6 << "" << 0;
    QTest::newRow("part over 255") << QByteArray("192.168.4.300:5353") << 6 << "" << 0;
    // Leading zeros as the address field lets them through: decimal, never octal.
    QTest::newRow("leading zeros")
        << QByteArray("192.168.001.020:5353") << 0 << "192.168.1.20" << 5353;
    QTest::newRow("zero-padded 8 and 9") << QByteArray("010.008.009.000:1") << 0 << "10.8.9.0" << 1;
    QTest::newRow("four digits") << QByteArray("192.168.0001.20:5353") << 6 << "" << 0;
    QTest::newRow("five parts") << QByteArray("1.2.3.4.5:5353") << 6 << "" << 0;
    QTest::newRow("empty part") << QByteArray("1..3.4:5353") << 6 << "" << 0;
    QTest::newRow("final dot") << QByteArray("1.2.3.4.:5353") << 6 << "" << 0;
    QTest::newRow("empty host") << QByteArray(":5353") << 12 << "" << 0;
    QTest::newRow("port not a number") << QByteArray("127.0.0.1:http") << 6 << "" << 0;
    QTest::newRow("port too large") << QByteArray("127.0.0.1:65536") << 6 << "" << 0;
    QTest::newRow("port with tail") << QByteArray("127.0.0.1:53x") << 6 << "" << 0;
    QTest::newRow("empty port") << QByteArray("127.0.0.1:") << 6 << "" << 0;
}

void TestSocket::parseAddress()
{
    QFETCH(QByteArray, text);
    QFETCH(int, result);
    QFETCH(QString, address);
    QFETCH(int, port);
    Socket socket(Socket::Internet, Socket::Datagram);
    sockaddr_in in;
    QCOMPARE(socket.parseAddress(&in, text.isNull() ? nullptr : text.constData()), result);
    if (result == 0) {
        QCOMPARE(in.sin_family, sa_family_t(AF_INET));
        QCOMPARE(dotted(in), address);
        QCOMPARE(int(ntohs(in.sin_port)), port);
    }
}

void TestSocket::refusedOperations_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("result");
    const int inet = Socket::Internet;
    const int local = Socket::Local;
    const int stream = Socket::Stream;
    const int dgram = Socket::Datagram;
    QTest::newRow("second open") << inet << dgram << "open" << 5;
    QTest::newRow("accept on datagram") << inet << dgram << "accept" << 10;
    QTest::newRow("no delay on datagram") << inet << dgram << "noDelay" << 10;
    QTest::newRow("join on stream") << inet << stream << "join" << 10;
    QTest::newRow("sendTo on stream") << inet << stream << "sendTo" << 10;
    QTest::newRow("bind null") << inet << dgram << "bindNull" << 8;
    QTest::newRow("join null") << inet << dgram << "joinNull" << 8;
    QTest::newRow("join bad group") << inet << dgram << "joinBad" << 6;
    QTest::newRow("exclusive address use") << inet << dgram << "exclusive" << 6;
    QTest::newRow("receive when closed") << inet << dgram << "closedReceive" << 7;
    QTest::newRow("close twice") << inet << dgram << "closeTwice" << 0;
    QTest::newRow("local has no descriptor") << local << stream << "connect" << 7;
    QTest::newRow("local connect") << local << stream << "openConnect" << 6;
    QTest::newRow("local address") << local << stream << "parse" << 10;
}

void TestSocket::refusedOperations()
{
    QFETCH(int, family);
    QFETCH(int, type);
    QFETCH(QString, operation);
    QFETCH(int, result);
    Socket socket(family, type);
    int got = -1;
    char buffer[8];
    int count = 0;
    if (operation == "open") {
        got = socket.open();
    } else if (operation == "accept") {
        Socket* accepted = nullptr;
        got = socket.accept(&accepted, nullptr, nullptr);
    } else if (operation == "noDelay") {
        got = socket.setNoDelay(true);
    } else if (operation == "join") {
        got = socket.joinGroup("224.0.0.251");
    } else if (operation == "sendTo") {
        got = socket.sendTo("x", 1, &count, "127.0.0.1:9");
    } else if (operation == "bindNull") {
        got = socket.bind(nullptr);
    } else if (operation == "joinNull") {
        got = socket.joinGroup(nullptr);
    } else if (operation == "joinBad") {
        got = socket.joinGroup("224.0.0");
    } else if (operation == "exclusive") {
        got = socket.setExclusiveAddressUse(true);
    } else if (operation == "closedReceive") {
        QCOMPARE(socket.close(), 0);
        count = 5;
        got = socket.receive(buffer, sizeof buffer, &count);
        QCOMPARE(count, 0);
    } else if (operation == "closeTwice") {
        QCOMPARE(socket.close(), 0);
        got = socket.close();
        QVERIFY(socket.isInvalid());
    } else if (operation == "connect") {
        QVERIFY(socket.isInvalid());
        got = socket.connect("127.0.0.1:9");
    } else if (operation == "openConnect") {
        QCOMPARE(socket.open(), 0);
        got = socket.connect("127.0.0.1:9");
    } else if (operation == "parse") {
        sockaddr_in in;
        got = socket.parseAddress(&in, "127.0.0.1:9");
    }
    QCOMPARE(got, result);
}

void TestSocket::datagramsOverLoopback()
{
    Socket server(Socket::Internet, Socket::Datagram);
    QCOMPARE(server.bind("127.0.0.95:47301"), 0);
    QVERIFY(server.isConnected());
    Socket client(Socket::Internet, Socket::Datagram);
    QVERIFY(!client.isConnected());
    int sent = 0;
    QCOMPARE(client.sendTo("hello", 5, &sent, "127.0.0.95:47301"), 0);
    QCOMPARE(sent, 5);
    char buffer[16];
    int received = 0;
    QCOMPARE(server.receive(buffer, sizeof buffer, &received), 0);
    QCOMPARE(QByteArray(buffer, received), QByteArray("hello"));

    QCOMPARE(client.connect("127.0.0.95:47301"), 0);
    QVERIFY(client.isConnected());
    QCOMPARE(client.send("again", 5, &sent), 0);
    QCOMPARE(server.receive(buffer, sizeof buffer, &received), 0);
    QCOMPARE(QByteArray(buffer, received), QByteArray("again"));
}

void TestSocket::overLongDatagramIsAnError()
{
    Socket server(Socket::Internet, Socket::Datagram);
    QCOMPARE(server.bind("127.0.0.95:47302"), 0);
    Socket client(Socket::Internet, Socket::Datagram);
    QCOMPARE(client.connect("127.0.0.95:47302"), 0);
    const QByteArray big(1500, 'x');
    int sent = 0;
    QCOMPARE(client.send(big.constData(), int(big.size()), &sent), 0);
    QCOMPARE(client.send("small", 5, &sent), 0);

    QByteArray buffer(1499, '\0');
    int received = 7;
    QCOMPARE(server.receive(buffer.data(), int(buffer.size()), &received), 9);
    QCOMPARE(received, 0);
    // The over-long datagram is gone; the next one arrives whole.
    QCOMPARE(server.receive(buffer.data(), int(buffer.size()), &received), 0);
    QCOMPARE(buffer.left(received), QByteArray("small"));
}

void TestSocket::shutdownWakesBlockedReceive()
{
    for (const char* peer : {"127.0.0.95:47303", static_cast<const char*>(nullptr)}) {
        Socket socket(Socket::Internet, Socket::Datagram);
        QCOMPARE(socket.bind("127.0.0.95:0"), 0);
        // Connected and unconnected datagram sockets both wake.
        if (peer)
            QCOMPARE(socket.connect(peer), 0);
        std::atomic<int> result{-1};
        std::thread receiver([&] {
            char buffer[16];
            int received = 0;
            result = socket.receive(buffer, sizeof buffer, &received);
        });
        std::this_thread::yield();
        QCOMPARE(socket.shutdown(), 0);
        receiver.join();
        // Woken inside recv, or refused at once had the shutdown come first: either way 13.
        QCOMPARE(result.load(), 13);
        QVERIFY(!socket.isInvalid());
        QCOMPARE(socket.close(), 0);
    }
}

void TestSocket::secondBindOnAnAddressInUse()
{
    Socket first(Socket::Internet, Socket::Stream);
    QCOMPARE(first.bind("127.0.0.95:47304"), 0);
    QCOMPARE(first.listen(1), 0);
    Socket second(Socket::Internet, Socket::Stream);
    QCOMPARE(second.bind("127.0.0.95:47304"), 11);
    QVERIFY(!second.isConnected());
}

void TestSocket::streamOverLoopback()
{
    Socket server(Socket::Internet, Socket::Stream);
    QCOMPARE(server.bind("127.0.0.95:47305"), 0);
    QCOMPARE(server.listen(4), 0);
    Socket client(Socket::Internet, Socket::Stream);
    QCOMPARE(client.setNoDelay(true), 0);
    QCOMPARE(client.connect("127.0.0.95:47305"), 0);
    QVERIFY(client.isConnected());

    Socket* accepted = nullptr;
    uint32_t peerAddress = 0;
    uint16_t peerPort = 0;
    QCOMPARE(server.accept(&accepted, &peerAddress, &peerPort), 0);
    std::unique_ptr<Socket> connection(accepted);
    QVERIFY(connection && connection->isConnected());
    QCOMPARE(peerAddress, uint32_t(0x7F000000) | 0x01); // the client's source is 127.0.0.1
    QVERIFY(peerPort != 0);

    int sent = 0;
    QCOMPARE(client.send("ping", 4, &sent), 0);
    char buffer[8];
    int received = 0;
    QCOMPARE(connection->receive(buffer, sizeof buffer, &received), 0);
    QCOMPARE(QByteArray(buffer, received), QByteArray("ping"));
    QCOMPARE(client.close(), 0);
    QCOMPARE(connection->receive(buffer, sizeof buffer, &received), 13);
    // Writing to a closed peer is a reset, not a signal that ends the process.
    connection->send("x", 1, &sent);
    QCOMPARE(connection->send("x", 1, &sent), 13);

    Socket refused(Socket::Internet, Socket::Stream);
    QCOMPARE(refused.connect("127.0.0.95:47306"), 15);
    QVERIFY(!refused.isConnected());
}

void TestSocket::untranslatedErrorsGiveOne()
{
    QCOMPARE(Socket::translateError(0), 0);
    QCOMPARE(Socket::translateError(ECONNREFUSED), 15);
    QCOMPARE(Socket::translateError(EMSGSIZE), 9);
    QCOMPARE(Socket::translateError(ENOTSOCK), 7);
    QCOMPARE(Socket::translateError(EHOSTUNREACH), 1);
}

void TestSocket::onceRunsItsInitialiserOnce()
{
    CVN::Core::Once once(&countInitialisation);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] { failures += once.run() != 0; });
    for (auto& t : threads)
        t.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(once.run(), 0);
    QCOMPARE(initialised.load(), 1);
}

QTEST_APPLESS_MAIN(TestSocket)
#include "tst_socket.moc"
