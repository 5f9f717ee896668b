#include "plugins/webview/transport/blockprotocolclient.h"
#include "plugins/webview/transport/firmwareupdateblock.h"
#include "sim/blockrecorder/blockrecorder.h"

#include <QtTest>

using Answer = BlockRecorder::Answer;
using BlockProtocol::Block;

namespace {

std::unique_ptr<QTcpSocket> connectTo(const BlockRecorder& recorder)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(recorder.address(), recorder.port());
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

Block named(const QByteArray& name, const QByteArray& key = {}, const QByteArray& value = {})
{
    Block block(name);
    if (!key.isEmpty())
        block.addField(key, value);
    return block;
}

// A conversation between a client and the simulated recorder; events collects, in order, what
// the client reports and what the FIRMWARE UPDATE handler receives.
class Conversation
{
public:
    Conversation()
    {
        recorder.listen();
        client = std::make_unique<BlockProtocolClient>();
        client->setPingInterval(60000);
        QObject::connect(client.get(), &BlockProtocolClient::blockSent,
                         [this](BlockProtocolClient::SendStatus status) {
                             events << QStringLiteral("sent %1").arg(int(status));
                         });
        QObject::connect(client.get(), &BlockProtocolClient::stopped,
                         [this] { events << QStringLiteral("stopped"); });
        QObject::connect(client.get(), &BlockProtocolClient::started,
                         [this] { events << QStringLiteral("started"); });
        QObject::connect(client.get(), &BlockProtocolClient::receivedPreamble,
                         [this] { events << QStringLiteral("preamble"); });
    }

    std::vector<BlockProtocol::BlockDescription> descriptions()
    {
        std::vector<BlockProtocol::BlockDescription> list;
        list.push_back(Protocols::FirmwareUpdate::blockDescription(
            [this](uint16_t port) { events << QStringLiteral("port %1").arg(port); },
            [this](Protocols::FirmwareUpdate::Status status) {
                events << QStringLiteral("status %1").arg(int(status));
            }));
        return list;
    }

    bool start()
    {
        const int connections = recorder.connectionCount();
        std::unique_ptr<QIODevice> socket = connectTo(recorder);
        if (!socket)
            return false;
        client->start(std::move(socket), descriptions());
        return client->isStarted() &&
               QTest::qWaitFor([&] { return recorder.connectionCount() > connections; });
    }

    // Waits until the client has read everything the recorder sent before this call.
    bool settle()
    {
        const int seen = events.count(QStringLiteral("port 1"));
        recorder.sendRaw("FIRMWARE UPDATE:\nPort: 1\n\n");
        return QTest::qWaitFor([&] { return events.count(QStringLiteral("port 1")) > seen; });
    }

    BlockRecorder recorder;
    std::unique_ptr<BlockProtocolClient> client;
    QStringList events;
};

} // namespace

class tst_BlockProtocolClient : public QObject
{
    Q_OBJECT
private slots:
    void oneBlockInFlight();
    void nakThenNext();
    void noAnswer_data();
    void noAnswer();
    void pingKeepsAlive();
    void pingWaitsBehindBlockInFlight();
    void unansweredPingEndsConversation();
    void preamble();
    void receivedBlocks_data();
    void receivedBlocks();
    void peerClosing();
    void restartIsAFreshConversation();
    void startGuards();
    void sendWhenStopped();
    void peerOverflow_data();
    void peerOverflow();
    void resetWhenIdle();
    void destroyedFromItsOwnSignals_data();
    void destroyedFromItsOwnSignals();
    void destroyedWhileRunning();
};

void tst_BlockProtocolClient::oneBlockInFlight()
{
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    QVERIFY(c.start());
    QVERIFY(c.client->send(named("FIRST", "a", "1")));
    QVERIFY(c.client->send(named("SECOND", "b", "2")));
    QTRY_COMPARE(c.recorder.receivedNames(), QByteArrayList{"FIRST"});
    QVERIFY(c.settle());
    QCOMPARE(c.recorder.receivedNames(), QByteArrayList{"FIRST"});

    c.recorder.sendAnswer(Answer::Ack);
    QTRY_COMPARE(c.recorder.receivedNames(), QByteArrayList({"FIRST", "SECOND"}));
    QCOMPARE(c.recorder.log().at(1).text, QByteArray("SECOND:\nb: 2\n\n"));
    c.recorder.sendAnswer(Answer::Ack);
    QTRY_COMPARE(c.events.filter("sent").size(), 2);
    QCOMPARE(c.events.filter("sent"), QStringList({"sent 0", "sent 0"}));
    QVERIFY(c.client->isStarted());
}

void tst_BlockProtocolClient::nakThenNext()
{
    Conversation c;
    c.recorder.queueAnswers({Answer::Nak, Answer::Ack});
    QVERIFY(c.start());
    QVERIFY(c.client->send(named("FIRST")));
    QVERIFY(c.client->send(named("SECOND")));
    QTRY_COMPARE(c.events.filter("sent"), QStringList({"sent 1", "sent 0"}));
    QCOMPARE(c.recorder.receivedNames(), QByteArrayList({"FIRST", "SECOND"}));
    QVERIFY(c.client->isStarted());
}

void tst_BlockProtocolClient::noAnswer_data()
{
    QTest::addColumn<bool>("queued");
    QTest::newRow("nothing queued") << false;
    QTest::newRow("a block queued") << true;
}

void tst_BlockProtocolClient::noAnswer()
{
    QFETCH(bool, queued);
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    c.client->setResponseTimeout(50);
    QVERIFY(c.start());
    if (queued)
        QTest::ignoreMessage(QtWarningMsg, "BlockProtocolClient reset with pending blocks");
    else
        QTest::failOnWarning(QRegularExpression(".*"));
    QVERIFY(c.client->send(named("FIRST")));
    if (queued)
        QVERIFY(c.client->send(named("SECOND")));
    QTRY_VERIFY(c.events.contains("stopped"));
    QCOMPARE(c.events, QStringList({"started", "sent 2", "stopped"}));
    QVERIFY(!c.client->isStarted());
    QTRY_VERIFY(!c.recorder.isConnected());
    QCOMPARE(c.recorder.receivedNames(), QByteArrayList{"FIRST"});
}

void tst_BlockProtocolClient::pingKeepsAlive()
{
    Conversation c;
    c.client->setPingInterval(10);
    QVERIFY(c.start());
    QTRY_VERIFY(c.recorder.log().size() >= 3);
    for (const BlockRecorder::ReceivedBlock& block : c.recorder.log())
        QCOMPARE(block.text, QByteArray("PING:\n\n"));
    QVERIFY(!c.events.filter("sent").isEmpty());
    QCOMPARE(c.events.filter("sent 0"), c.events.filter("sent"));
    QVERIFY(c.client->isStarted());
}

void tst_BlockProtocolClient::pingWaitsBehindBlockInFlight()
{
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    QVERIFY(c.start());
    QVERIFY(c.client->send(named("FIRST")));
    QTRY_COMPARE(c.recorder.receivedNames(), QByteArrayList{"FIRST"});
    c.client->setPingInterval(5);
    QVERIFY(c.settle());
    QTest::qWait(30); // several ping periods: pings pile up behind the block in flight
    QCOMPARE(c.recorder.receivedNames(), QByteArrayList{"FIRST"});
    c.client->setPingInterval(60000);
    c.recorder.setAnswer(Answer::Ack);
    c.recorder.sendAnswer(Answer::Ack);
    // Every queued ping goes out, each after the answer to the one before.
    QTRY_VERIFY(c.recorder.log().size() >= 2 &&
                c.events.filter("sent").size() == c.recorder.log().size());
    QCOMPARE(c.recorder.receivedNamesWithoutPings(), QByteArrayList{"FIRST"});
    QCOMPARE(c.events.filter("sent 0"), c.events.filter("sent"));
}

void tst_BlockProtocolClient::unansweredPingEndsConversation()
{
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    c.client->setPingInterval(10);
    c.client->setResponseTimeout(50);
    QVERIFY(c.start());
    QTest::ignoreMessage(QtWarningMsg, "BlockProtocolClient reset with pending blocks");
    QTRY_VERIFY(c.events.contains("stopped"));
    QCOMPARE(c.events, QStringList({"started", "sent 2", "stopped"}));
    QCOMPARE(c.recorder.receivedNames(), QByteArrayList{"PING"});
}

void tst_BlockProtocolClient::preamble()
{
    Conversation c;
    c.recorder.setPreambleOnConnect(true);
    QTest::failOnWarning(QRegularExpression(".*"));
    QVERIFY(c.start());
    QTRY_VERIFY(c.events.contains("preamble"));
    QVERIFY(c.settle());
    QCOMPARE(c.events, QStringList({"started", "preamble", "port 1"}));
}

void tst_BlockProtocolClient::receivedBlocks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("ack lower case") << QByteArray("ack:\n\n") << QStringList();
    QTest::newRow("ack without colon") << QByteArray("ACK\n\n") << QStringList{"sent 0"};
    QTest::newRow("nak") << QByteArray("NAK:\r\n\r\n") << QStringList{"sent 1"};
    QTest::newRow("firmware update without colon")
        << QByteArray("FIRMWARE UPDATE\nPort: 9993\n\n") << QStringList();
    QTest::newRow("firmware update lower case")
        << QByteArray("firmware update:\nPort: 9993\n\n") << QStringList{"port 9993"};
    QTest::newRow("port and status in order")
        << QByteArray("FIRMWARE UPDATE:\nStatus: Complete\nPort: 70000\nSize: 5\nPort: 2\n\n")
        << QStringList{"status 0", "port 2"};
    QTest::newRow("preamble with fields")
        << QByteArray("PROTOCOL PREAMBLE:\nVersion: 1\nName: x\n\n") << QStringList();
    QTest::newRow("end prelude") << QByteArray("END PRELUDE:\n\n") << QStringList{"preamble"};
    QTest::newRow("ping from peer") << QByteArray("PING:\n\n") << QStringList();
    QTest::newRow("unknown") << QByteArray("SOMETHING ELSE:\nk: v\n\n") << QStringList();
    QTest::newRow("split over writes")
        << QByteArray("FIRMWARE UP|DATE:\r|\nPort: 99|93\r\n|\r\n") << QStringList{"port 9993"};
}

void tst_BlockProtocolClient::receivedBlocks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);

    Conversation c;
    QTest::failOnWarning(QRegularExpression(".*"));
    QVERIFY(c.start());
    for (const QByteArray& piece : bytes.split('|')) {
        c.recorder.sendRaw(piece);
        QTest::qWait(1);
    }
    QVERIFY(c.settle());
    QCOMPARE(c.events, QStringList{"started"} + events + QStringList{"port 1"});
    QVERIFY(c.client->isStarted());
}

void tst_BlockProtocolClient::peerClosing()
{
    Conversation c;
    QVERIFY(c.start());
    c.recorder.sendRaw("FIRMWARE UPDATE:\nPort: 7\n\n");
    c.recorder.dropConnection();
    QTRY_VERIFY(c.events.contains("stopped"));
    QCOMPARE(c.events, QStringList({"started", "port 7", "stopped"}));
    QVERIFY(!c.client->isStarted());
}

void tst_BlockProtocolClient::restartIsAFreshConversation()
{
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    QVERIFY(c.start());
    // Leaves a block queued behind one in flight, and half a block in the parser. The time-out
    // is shortened only once all of that is there: a loaded machine may take longer than it.
    QVERIFY(c.client->send(named("FIRST")));
    QVERIFY(c.client->send(named("STALE")));
    c.recorder.sendRaw("FIRMWARE UPDATE:\nPort: 7\n\nFIRMWARE UPDATE:\nPort: 5");
    QTRY_VERIFY(c.events.contains("port 7"));
    QTRY_COMPARE(c.recorder.receivedNames(), QByteArrayList{"FIRST"});
    QTest::ignoreMessage(QtWarningMsg, "BlockProtocolClient reset with pending blocks");
    c.client->setResponseTimeout(50);
    QTRY_VERIFY(c.events.contains("stopped"));

    c.events.clear();
    c.recorder.setAnswer(Answer::Ack);
    QVERIFY(c.start());
    c.recorder.sendRaw("\n\n");
    QVERIFY(c.client->send(named("NEW")));
    QTRY_COMPARE(c.events.filter("sent"), QStringList{"sent 0"});
    QVERIFY(c.settle());
    QVERIFY(!c.events.contains("port 5"));
    QCOMPARE(c.recorder.receivedNames(), QByteArrayList({"FIRST", "NEW"}));
    QCOMPARE(c.recorder.log().last().connection, 1);
}

void tst_BlockProtocolClient::startGuards()
{
    Conversation c;
    const QByteArray signature =
        "void __cdecl BlockProtocolClient::start(class std::unique_ptr<class QIODevice,struct "
        "std::default_delete<class QIODevice> > &&,class std::vector<struct "
        "BlockProtocol::BlockDescription,class std::allocator<struct "
        "BlockProtocol::BlockDescription> > &&)";

    std::unique_ptr<QIODevice> closed = std::make_unique<QTcpSocket>();
    QTest::ignoreMessage(QtWarningMsg, (signature + "  device not open").constData());
    c.client->start(std::move(closed), c.descriptions());
    QVERIFY(closed); // not taken
    QVERIFY(!c.client->isStarted());
    QVERIFY(c.events.isEmpty());

    QVERIFY(c.start());
    std::unique_ptr<QIODevice> second = connectTo(c.recorder);
    QVERIFY(second);
    QTest::ignoreMessage(QtWarningMsg, (signature + " already started").constData());
    c.client->start(std::move(second), {});
    QVERIFY(second);
    QCOMPARE(c.events, QStringList{"started"});
    // The first conversation, with its descriptions, goes on.
    QVERIFY(c.settle());
}

void tst_BlockProtocolClient::sendWhenStopped()
{
    Conversation c;
    QVERIFY(!c.client->send(named("NOWHERE")));
    QVERIFY(c.start());
    c.client->reset();
    QVERIFY(!c.client->send(named("NOWHERE")));
    QCOMPARE(c.events, QStringList({"started", "stopped"}));
}

void tst_BlockProtocolClient::peerOverflow_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("endless line") << QByteArray(BlockProtocol::kMaxLineLength + 100, 'x');
    QTest::newRow("endless block")
        << "FIRMWARE UPDATE:\n" + QByteArray("Status: Update in Progress\n")
                                      .repeated(BlockProtocol::kMaxBlockLength / 20);
}

void tst_BlockProtocolClient::peerOverflow()
{
    QFETCH(QByteArray, bytes);
    Conversation c;
    QVERIFY(c.start());
    QTest::ignoreMessage(QtWarningMsg,
                         "BlockProtocolClient: the peer sent a line or block beyond the limits");
    c.recorder.sendRaw(bytes);
    QTRY_VERIFY(c.events.contains("stopped"));
    QCOMPARE(c.events, QStringList({"started", "stopped"}));
    QTRY_VERIFY(!c.recorder.isConnected());
}

void tst_BlockProtocolClient::resetWhenIdle()
{
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    QVERIFY(c.start());
    QVERIFY(c.client->send(named("FIRST")));
    QVERIFY(c.client->send(named("LAST")));
    c.client->resetWhenIdle();
    QVERIFY(c.client->isStarted());
    c.recorder.sendAnswer(Answer::Ack);
    QTRY_VERIFY(c.events.contains("stopped"));
    QCOMPARE(c.events, QStringList({"started", "sent 0", "stopped"}));
    QTRY_COMPARE(c.recorder.receivedNames(), QByteArrayList({"FIRST", "LAST"}));
}

void tst_BlockProtocolClient::destroyedFromItsOwnSignals_data()
{
    QTest::addColumn<QByteArray>("trigger");
    QTest::addColumn<bool>("timeout");
    QTest::newRow("ack") << QByteArray("ACK:\n\nFIRMWARE UPDATE:\nPort: 9\n\n") << false;
    QTest::newRow("handler") << QByteArray("FIRMWARE UPDATE:\nPort: 9\nPort: 10\n\nACK:\n\n")
                             << false;
    QTest::newRow("prelude") << QByteArray("END PRELUDE:\n\nACK:\n\n") << false;
    QTest::newRow("time-out") << QByteArray() << true;
}

void tst_BlockProtocolClient::destroyedFromItsOwnSignals()
{
    QFETCH(QByteArray, trigger);
    QFETCH(bool, timeout);

    BlockRecorder recorder;
    QVERIFY(recorder.listen());
    recorder.setAnswer(Answer::Silence);
    auto* client = new BlockProtocolClient;
    client->setResponseTimeout(timeout ? 20 : 60000);
    QPointer<BlockProtocolClient> watch(client);
    int calls = 0;
    auto drop = [&] {
        if (watch)
            ++calls;
        delete watch.data();
    };
    QObject::connect(client, &BlockProtocolClient::blockSent, drop);
    QObject::connect(client, &BlockProtocolClient::receivedPreamble, drop);
    std::vector<BlockProtocol::BlockDescription> descriptions;
    descriptions.push_back(Protocols::FirmwareUpdate::blockDescription(
        [&](uint16_t) { drop(); }, [](Protocols::FirmwareUpdate::Status) {}));
    // Expected before the start: on a slow run the 20 ms time-out can fire while the first
    // block is still being awaited below.
    QTest::ignoreMessage(QtWarningMsg, "BlockProtocolClient reset with pending blocks");
    client->start(connectTo(recorder), std::move(descriptions));
    QVERIFY(client->send(named("FIRST")));
    QVERIFY(client->send(named("SECOND")));
    QTRY_COMPARE(recorder.log().size(), 1);
    recorder.sendRaw(trigger);
    QTRY_VERIFY(!watch);
    QCOMPARE(calls, 1);
    QTRY_VERIFY(!recorder.isConnected());
}

void tst_BlockProtocolClient::destroyedWhileRunning()
{
    Conversation c;
    c.recorder.setAnswer(Answer::Silence);
    QVERIFY(c.start());
    QVERIFY(c.client->send(named("FIRST")));
    QVERIFY(c.client->send(named("SECOND")));
    QTRY_COMPARE(c.recorder.log().size(), 1);
    QTest::ignoreMessage(QtWarningMsg, "BlockProtocolClient reset with pending blocks");
    c.client.reset();
    QTRY_VERIFY(!c.recorder.isConnected());
    // Listeners may be mid-destruction themselves: no signal on the way out.
    QCOMPARE(c.events, QStringList{"started"});
}

QTEST_GUILESS_MAIN(tst_BlockProtocolClient)
#include "tst_blockprotocolclient.moc"
