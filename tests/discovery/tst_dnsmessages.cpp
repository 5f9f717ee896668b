#include "dnsmessagebuilder.h"

#include "discovery/dns/dnshostaddressrecord.h"
#include "discovery/dns/dnsmessage.h"
#include "discovery/dns/dnsreply.h"
#include "discovery/records/bonjourinfo.h"

#include <QtTest>

#include <functional>

using Bytes = std::vector<unsigned char>;
using Mutation = std::function<Bytes()>;
Q_DECLARE_METATYPE(Mutation)

namespace {

Bytes reply(std::function<void(ReplyShape&)> change = {})
{
    ReplyShape shape;
    if (change)
        change(shape);
    return buildReply(shape);
}

// A header for one question and one answer, then the question name written by the caller.
DnsMessageBuilder start(unsigned additionals = 0)
{
    DnsMessageBuilder m;
    m.header(0x4567, 1, 1, 0, additionals);
    return m;
}

} // namespace

class TestDnsMessages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wellFormedReply();
    void avahiDaemonsReplyWithEverythingAmongTheAnswers();
    void replies_data();
    void replies();
    void compressedNameLeavesPositionAfterPointer();
    void encoder_data();
    void encoder();
    void splitString_data();
    void splitString();
    void txt_data();
    void txt();
};

void TestDnsMessages::wellFormedReply()
{
    const Bytes message = reply();
    DNSReply parsed;
    QVERIFY(parsed.parse(message.data(), message.size(), 0x4567));
    QCOMPARE(parsed.questionName(), std::string("_corvane._tcp.local."));
    QCOMPARE(parsed.answerName(), std::string("_corvane._tcp.local."));
    QCOMPARE(parsed.instanceName(), std::string("Studio Deck"));
    QCOMPARE(parsed.serviceTarget(), std::string("deck.local."));
    QCOMPARE(parsed.servicePort(), uint16_t(8080));
    QCOMPARE(parsed.additionalRecords().size(), size_t(3));
    const auto* a = dynamic_cast<const DNSHostAddressRecord*>(parsed.additionalRecords()[2].get());
    QVERIFY(a);
    QCOMPARE(a->name(), std::string("deck.local."));
    QCOMPARE(a->address(), std::string("192.168.7.21"));
    const std::string txt(reinterpret_cast<const char*>(parsed.txtData()), parsed.txtLength());
    QCOMPARE(txt, std::string("\x0Amodel=nova\x0Bserial=A1B2"));

    // The same object parses a later reply from scratch.
    const Bytes bare = reply([](ReplyShape& s) { s.withSrv = s.withTxt = s.withA = false; });
    QVERIFY(parsed.parse(bare.data(), bare.size(), 0x4567));
    QVERIFY(parsed.additionalRecords().empty());
    QCOMPARE(parsed.serviceTarget(), std::string());
    QCOMPARE(parsed.servicePort(), uint16_t(0));
    QVERIFY(!parsed.txtData());
    QCOMPARE(parsed.txtLength(), uint16_t(0));
}

void TestDnsMessages::avahiDaemonsReplyWithEverythingAmongTheAnswers()
{
    const Bytes message = avahiDaemonReply(0x4567);
    DNSReply parsed;
    QVERIFY(parsed.parse(message.data(), message.size(), 0x4567));
    QCOMPARE(parsed.questionName(), std::string("_http._tcp.local."));
    QCOMPARE(parsed.answerName(), std::string("_http._tcp.local."));
    QCOMPARE(parsed.answerType(), uint16_t(12));
    QCOMPARE(parsed.instanceName(), std::string("Studio Deck"));
    QCOMPARE(parsed.serviceTarget(), std::string("vm.local."));
    QCOMPARE(parsed.servicePort(), uint16_t(8080));
    const std::string txt(reinterpret_cast<const char*>(parsed.txtData()), parsed.txtLength());
    QCOMPARE(txt, std::string("\x0Amodel=nova\x0Bserial=A1B2"));
    QCOMPARE(parsed.additionalRecords().size(), size_t(3));
    const auto* a = dynamic_cast<const DNSHostAddressRecord*>(parsed.additionalRecords()[2].get());
    QVERIFY(a);
    QCOMPARE(a->address(), std::string("127.0.0.1"));
}

void TestDnsMessages::replies_data()
{
    QTest::addColumn<Mutation>("message");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<int>("port");

    auto row = [](const char* name, Mutation m, bool ok, const char* instance = "", int port = 0) {
        QTest::newRow(name) << m << ok << QString(instance) << port;
    };

    row(
        "well formed", [] { return reply(); }, true, "Studio Deck", 8080);
    row(
        "dot inside the instance label",
        [] { return reply([](ReplyShape& s) { s.instance = "Deck.Two"; }); }, true, "Deck", 8080);
    row(
        "AAAA and NSEC skipped by their length",
        [] { return reply([](ReplyShape& s) { s.withAaaaAndNsec = true; }); }, true, "Studio Deck",
        8080);
    row(
        "no SRV record", [] { return reply([](ReplyShape& s) { s.withSrv = false; }); }, true,
        "Studio Deck", 0);
    row(
        "wrong id", [] { return reply([](ReplyShape& s) { s.id = 0x4568; }); }, false);
    // avahi's layout: question at 12, PTR answer at 34 (owner, type at 36), TXT answer at 60.
    row(
        "as avahi-daemon answers", [] { return avahiDaemonReply(0x4567); }, true, "Studio Deck",
        8080);
    row(
        "avahi's answers, wrong id", [] { return avahiDaemonReply(0x4568); }, false);
    row(
        "avahi's answers with an authority record",
        [] {
            Bytes m = avahiDaemonReply(0x4567);
            m[9] = 1;
            return m;
        },
        false);
    row(
        "avahi's answers without the PTR",
        [] {
            Bytes m = avahiDaemonReply(0x4567);
            m[37] = 99; // now an unknown record, stepped over
            return m;
        },
        false);
    row(
        "avahi's answers with a PTR for another name",
        [] {
            Bytes m = avahiDaemonReply(0x4567);
            m[35] = 0x2e; // owner: the instance, not the question
            return m;
        },
        false);
    row(
        "avahi's answers with two PTRs",
        [] {
            Bytes m = avahiDaemonReply(0x4567);
            m[61] = 0x0c; // the TXT answer, owned by the question, becomes a PTR
            m[63] = 12;
            return m;
        },
        false);
    row(
        "avahi's answers cut short",
        [] {
            Bytes m = avahiDaemonReply(0x4567);
            m.pop_back();
            return m;
        },
        false);
    row(
        "zero answers",
        [] {
            Bytes m = reply();
            m[7] = 0;
            return m;
        },
        false);
    row(
        "two answers",
        [] {
            Bytes m = reply();
            m[7] = 2;
            return m;
        },
        false);
    row(
        "an authority record",
        [] {
            Bytes m = reply();
            m[9] = 1;
            return m;
        },
        false);
    row(
        "more additional records announced than present",
        [] {
            Bytes m = reply();
            m[11] += 1;
            return m;
        },
        false);
    row(
        "header cut short",
        [] {
            Bytes m = reply();
            m.resize(11);
            return m;
        },
        false);
    row(
        "empty datagram", [] { return Bytes(); }, false);
    row(
        "truncated A record",
        [] {
            Bytes m = reply();
            m.pop_back();
            return m;
        },
        false);
    row(
        "every shorter cut fails",
        [] {
            // Any prefix of a good reply must fail, never read past its end.
            const Bytes full = reply([](ReplyShape& s) { s.withAaaaAndNsec = true; });
            for (size_t n = 0; n < full.size(); ++n) {
                DNSReply parsed;
                Bytes cut(full.begin(), full.begin() + long(n));
                cut.shrink_to_fit();
                if (parsed.parse(cut.data(), cut.size(), 0x4567))
                    return full;
            }
            return Bytes();
        },
        false);
    row(
        "pointer to itself",
        [] {
            DnsMessageBuilder m = start();
            m.pointer(12).u16(12).u16(1);
            return m.bytes;
        },
        false);
    row(
        "two pointers pointing at each other",
        [] {
            DnsMessageBuilder m = start();
            m.labels({"_corvane"}).pointer(23).pointer(21).u16(12).u16(1);
            return m.bytes;
        },
        false);
    row(
        "forward pointer",
        [] {
            DnsMessageBuilder m = start();
            m.pointer(14).labels({"x"}).end().u16(12).u16(1);
            return m.bytes;
        },
        false);
    row(
        "pointer past the end",
        [] {
            DnsMessageBuilder m = start();
            m.labels({"a"}).pointer(0x3FFF);
            return m.bytes;
        },
        false);
    row(
        "label type 01",
        [] {
            DnsMessageBuilder m = start();
            m.u8(0x41).raw(std::string(1, 'a')).end().u16(12).u16(1);
            return m.bytes;
        },
        false);
    row(
        "name over 255 bytes",
        [] {
            DnsMessageBuilder m = start();
            for (int i = 0; i < 5; ++i)
                m.labels({std::string(60, 'a')});
            m.end().u16(12).u16(1);
            return m.bytes;
        },
        false);
    row(
        "name of exactly 255 bytes",
        [] {
            // Four labels of 62 and one of 1 make 255 bytes with the final zero.
            DnsMessageBuilder m = start();
            for (int i = 0; i < 4; ++i)
                m.labels({std::string(62, 'a')});
            m.labels({"a"}).end().u16(12).u16(1);
            m.pointer(12).recordHeader(12, 19).labels({"Studio Deck", "local"}).end();
            return m.bytes;
        },
        true, "Studio Deck", 0);
    row(
        "SRV target running past the record's data",
        [] {
            Bytes m = reply([](ReplyShape& s) { s.withTxt = s.withA = false; });
            // The SRV data length is the u16 just before its 6 fixed bytes and target.
            const size_t srvData = m.size() - (6 + 1 + 4 + 1 + 5 + 1);
            m[srvData - 1] -= 3;
            return m;
        },
        false);
    row(
        "A record shorter than an address",
        [] {
            Bytes m = reply();
            m[m.size() - 5] = 2;
            return m;
        },
        false);
    row(
        "A record longer than an address",
        [] {
            Bytes m = reply();
            m[m.size() - 5] = 6;
            m.push_back(0);
            m.push_back(0);
            return m;
        },
        true, "Studio Deck", 8080);
    row(
        "PTR data shorter than its name",
        [] {
            Bytes m = reply();
            const size_t answerLength = 12 + 21 + 4 + 2 + 8;
            m[answerLength + 1] = 3;
            return m;
        },
        false);
    row(
        "TXT data length beyond the message",
        [] {
            Bytes m = reply([](ReplyShape& s) { s.withA = false; });
            const size_t txtLength = m.size() - (1 + 10 + 1 + 11) - 2;
            m[txtLength] = 0x7F;
            return m;
        },
        false);
}

void TestDnsMessages::replies()
{
    QFETCH(Mutation, message);
    QFETCH(bool, ok);
    QFETCH(QString, instance);
    QFETCH(int, port);
    Bytes bytes = message();
    // Exact-size heap copy, so a read past the end shows under the address sanitizer.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    DNSReply parsed;
    QCOMPARE(parsed.parse(bytes.empty() ? nullptr : exact.get(), bytes.size(), 0x4567), ok);
    if (ok) {
        QCOMPARE(QString::fromStdString(parsed.instanceName()), instance);
        QCOMPARE(int(parsed.servicePort()), port);
    }
}

void TestDnsMessages::compressedNameLeavesPositionAfterPointer()
{
    DnsMessageBuilder m;
    m.u16(0).labels({"_corvane", "_tcp", "local"}).end();
    const unsigned pointerAt = unsigned(m.size());
    m.labels({"Studio Deck"}).pointer(2).u16(0xBEEF);
    unsigned position = pointerAt;
    std::string name;
    QVERIFY(readName(m.bytes.data(), m.size(), &position, name));
    QCOMPARE(name, std::string("Studio Deck._corvane._tcp.local."));
    QCOMPARE(position, pointerAt + 12 + 2);

    unsigned root = 0;
    const unsigned char zero[] = {0};
    QVERIFY(readName(zero, 1, &root, name));
    QCOMPARE(name, std::string());
    QCOMPARE(root, 1u);
}

void TestDnsMessages::encoder_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("length");
    QTest::newRow("plain") << "_corvane._tcp.local" << 37;
    QTest::newRow("final dot") << "_corvane._tcp.local." << 37;
    QTest::newRow("empty part") << "_corvane.._tcp.local" << 0;
    QTest::newRow("leading dot") << "._tcp.local" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("label of 64") << QString(64, 'a') + ".local" << 0;
    QTest::newRow("label of 63") << QString(63, 'a') + ".local" << 16 + 1 + 63 + 6 + 1;
}

void TestDnsMessages::encoder()
{
    QFETCH(QString, type);
    QFETCH(int, length);
    const Bytes query = encodePtrQuery(0xA1B2, type.toStdString());
    QCOMPARE(int(query.size()), length);
    if (length != 37)
        return;
    const Bytes expected = {0xA1, 0xB2, 0x01, 0x00, 0,   1,   0,   0,   0,  0,   0,   0,   8,
                            '_',  'c',  'o',  'r',  'v', 'a', 'n', 'e', 4,  '_', 't', 'c', 'p',
                            5,    'l',  'o',  'c',  'a', 'l', 0,   0,   12, 0,   1};
    QCOMPARE(query, expected);
}

void TestDnsMessages::splitString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("final delimiter") << "a.b." << QStringList{"a", "b"};
    QTest::newRow("inner empty") << "a..b" << QStringList{"a", "", "b"};
    QTest::newRow("leading") << ".a" << QStringList{"", "a"};
    QTest::newRow("only delimiter") << "." << QStringList{""};
}

void TestDnsMessages::splitString()
{
    QFETCH(QString, text);
    QFETCH(QStringList, parts);
    QStringList got;
    for (const std::string& part : ::splitString(text.toStdString(), '.'))
        got << QString::fromStdString(part);
    QCOMPARE(got, parts);
}

void TestDnsMessages::txt_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("entries");
    auto strings = [](std::initializer_list<const char*> list) {
        QByteArray out;
        for (const char* s : list)
            out.append(char(qstrlen(s))).append(s);
        return out;
    };
    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("one byte") << QByteArray(1, '\x03') << QStringList();
    QTest::newRow("single zero") << QByteArray(1, '\0') << QStringList();
    QTest::newRow("last wins") << strings({"a=1", "a=2"}) << QStringList{"a=2"};
    QTest::newRow("bare key empties") << strings({"a=1", "a"}) << QStringList{"a="};
    QTest::newRow("value with equals") << strings({"k=v=w"}) << QStringList{"k=v=w"};
    QTest::newRow("empty key") << strings({"=x"}) << QStringList{"=x"};
    QTest::newRow("zero length ends")
        << strings({"a=1"}) + QByteArray(1, '\0') + strings({"b=2"}) << QStringList{"a=1"};
    QTest::newRow("overrun keeps earlier") << strings({"a=1"}) + QByteArray("\x09"
                                                                            "b=2",
                                                                            4)
                                           << QStringList{"a=1"};
    QTest::newRow("ends exactly") << strings({"a=1", "bb"}) << QStringList{"a=1", "bb="};
}

void TestDnsMessages::txt()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, entries);
    BonjourInfo info;
    info.txt["stale"] = "x";
    // Exact-size copy so that a read past the end shows under the address sanitizer.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[size_t(data.size())]);
    memcpy(exact.get(), data.constData(), size_t(data.size()));
    info.parseTxt(data.isEmpty() ? nullptr : exact.get(), int(data.size()));
    QStringList got;
    for (const auto& [key, value] : info.txt)
        got << QString::fromStdString(key + "=" + value);
    QCOMPARE(got, entries);
}

QTEST_APPLESS_MAIN(TestDnsMessages)
#include "tst_dnsmessages.moc"
