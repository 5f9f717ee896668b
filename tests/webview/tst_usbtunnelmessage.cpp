#include "plugins/webview/transport/usbtunnelmessage.h"
#include "plugins/webview/transport/usbtunnelmessagereader.h"

#include <QtTest>

using CVN::USBTunnelMessage;
using CVN::USBTunnelMessageReader;

namespace {

// Writes what the reader reports as one line per event, so a mismatch shows where it is.
class RecordingSink : public USBTunnelMessageReader::Sink
{
public:
    QStringList events;
    QByteArray payload;
    uint64_t largestPayload = UINT64_MAX;

    void connectionOpened(uint16_t id) override { events << QStringLiteral("opened %1").arg(id); }
    void tokensReceived(uint16_t id, uint64_t count) override
    {
        events << QStringLiteral("tokens %1 %2").arg(id).arg(count);
    }
    void connectionClosed(uint16_t id, uint16_t error) override
    {
        events << QStringLiteral("closed %1 %2").arg(id).arg(error);
    }
    bool payloadBegin(uint16_t id, uint64_t length) override
    {
        if (length > largestPayload)
            return false;
        events << QStringLiteral("payload %1 %2").arg(id).arg(length);
        return true;
    }
    void payloadPiece(uint16_t, const char* data, size_t size) override
    {
        payload.append(data, qsizetype(size));
    }
    void payloadEnd(uint16_t id) override { events << QStringLiteral("end %1").arg(id); }
};

} // namespace

class tst_USBTunnelMessage : public QObject
{
    Q_OBJECT

private slots:
    void hostMessagesAreBigEndian_data();
    void hostMessagesAreBigEndian();
    void deviceStreamIsCut_data();
    void deviceStreamIsCut();
    void protocolErrorsEndTheStream_data();
    void protocolErrorsEndTheStream();
    void zeroLengthPacketEndsWholePackets();
};

void tst_USBTunnelMessage::hostMessagesAreBigEndian_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("open tcp 1:80")
        << USBTunnelMessage::openConnectionTCP(1, 80) << QByteArray("0001000100010050");
    QTest::newRow("open test") << USBTunnelMessage::openConnectionTest(0x0203, 9, 0x1122, 7)
                               << QByteArray("000102030002"
                                             "09"
                                             "0000000000001122"
                                             "0000000000000007");
    QTest::newRow("tokens 4096") << USBTunnelMessage::tokens(5, 4096)
                                 << QByteArray("000300050000000000001000");
    QTest::newRow("transfer") << USBTunnelMessage::transfer(0xfffe, 0x01020304)
                              << QByteArray("0004fffe0000000001020304");
    QTest::newRow("close") << USBTunnelMessage::closeConnection(258) << QByteArray("00050102");
    QTest::newRow("transfer with tokens") << USBTunnelMessage::transferTokens(1, 3, "ab", 2)
                                          << QByteArray("00070001"
                                                        "0000000000000002"
                                                        "0000000000000003"
                                                        "6162");
}

void tst_USBTunnelMessage::hostMessagesAreBigEndian()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, hex);
    QCOMPARE(message.toHex(), hex);
}

void tst_USBTunnelMessage::deviceStreamIsCut_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("opened") << QByteArray::fromHex("02000100") << QStringList{"opened 1"}
                            << QByteArray();
    QTest::newRow("tokens keep all 64 bits") << QByteArray::fromHex("030007000500010000000000")
                                             << QStringList{"tokens 7 65541"} << QByteArray();
    QTest::newRow("tokens 65536") << QByteArray::fromHex("070007000000000000000000"
                                                         "0000010000000000")
                                  << QStringList{"tokens 7 65536", "payload 7 0", "end 7"}
                                  << QByteArray();
    QTest::newRow("closed with error")
        << QByteArray::fromHex("060002000900") << QStringList{"closed 2 9"} << QByteArray();
    QTest::newRow("transfer then opened")
        << QByteArray::fromHex("0400030003000000000000006869210200040"
                               "0")
        << QStringList{"payload 3 3", "end 3", "opened 4"} << QByteArray("hi!");
    QTest::newRow("empty payloads back to back")
        << QByteArray::fromHex("040001000000000000000000"
                               "0700010000000000000000000200000000000000"
                               "02000100")
        << QStringList{"payload 1 0", "end 1", "tokens 1 2", "payload 1 0", "end 1", "opened 1"}
        << QByteArray();
    QTest::newRow("transfer with tokens")
        << QByteArray::fromHex("0700020002000000000000000100000000000000"
                               "6f6b")
        << QStringList{"tokens 2 1", "payload 2 2", "end 2"} << QByteArray("ok");
}

void tst_USBTunnelMessage::deviceStreamIsCut()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, payload);

    // Whole, and cut at every point into two reads, and byte by byte: the same events.
    for (int cut = -1; cut <= stream.size(); ++cut) {
        RecordingSink sink;
        USBTunnelMessageReader reader(&sink);
        if (cut < 0) {
            for (char byte : stream)
                QVERIFY2(reader.feed(&byte, 1), qPrintable(reader.error()));
        } else {
            QVERIFY(reader.feed(stream.constData(), size_t(cut)));
            QVERIFY(reader.feed(stream.constData() + cut, size_t(stream.size() - cut)));
        }
        QCOMPARE(sink.events, events);
        QCOMPARE(sink.payload, payload);
    }
}

void tst_USBTunnelMessage::protocolErrorsEndTheStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("error");
    QTest::newRow("type 0") << QByteArray::fromHex("00000100") << "Unknown tunnel message type 0";
    QTest::newRow("type 8") << QByteArray::fromHex("08000100") << "Unknown tunnel message type 8";
    QTest::newRow("open kind 3") << QByteArray::fromHex("010001000300") << "Unknown open kind 3";
    QTest::newRow("open from device")
        << QByteArray::fromHex("0100010001005000")
        << "USBBulkPipeInterface received message it shouldn't have been sent";
    QTest::newRow("close from device")
        << QByteArray::fromHex("05000100")
        << "USBBulkPipeInterface received message it shouldn't have been sent";
    // The sink takes at most 8 bytes at a time.
    QTest::newRow("payload refused by the sink")
        << QByteArray::fromHex("04000100090000000000000000") << "Payload of 9 bytes refused";
}

void tst_USBTunnelMessage::protocolErrorsEndTheStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, error);
    RecordingSink sink;
    sink.largestPayload = 8;
    USBTunnelMessageReader reader(&sink);
    QVERIFY(!reader.feed(stream.constData(), size_t(stream.size())));
    QVERIFY2(reader.error().startsWith(error), qPrintable(reader.error()));
    // Nothing more is read after the error, even a valid message.
    const QByteArray opened = QByteArray::fromHex("02000100");
    QVERIFY(!reader.feed(opened.constData(), size_t(opened.size())));
    QVERIFY(sink.events.isEmpty());
}

void tst_USBTunnelMessage::zeroLengthPacketEndsWholePackets()
{
    const struct
    {
        uint64_t bytes;
        int maxPacket;
        bool zlp;
    } cases[] = {{512, 512, true}, {1024, 512, true}, {513, 512, false}, {20 + 492, 512, true},
                 {64, 64, true},   {0, 512, false},   {100, 0, false},   {4096 + 20, 512, false}};
    for (const auto& c : cases)
        QVERIFY2(USBTunnelMessage::needsZeroLengthPacket(c.bytes, c.maxPacket) == c.zlp,
                 qPrintable(QStringLiteral("%1 bytes, packet %2").arg(c.bytes).arg(c.maxPacket)));
}

QTEST_GUILESS_MAIN(tst_USBTunnelMessage)
#include "tst_usbtunnelmessage.moc"
