#include "plugins/webview/transport/blockparser.h"
#include "plugins/webview/transport/firmwareupdateblock.h"

#include <QtTest>

using BlockProtocol::Block;

Q_DECLARE_METATYPE(BlockProtocol::Block::Format)

namespace {

// A readable form of parsed blocks, so a mismatch shows where it is.
QByteArrayList describe(const std::vector<Block>& blocks)
{
    QByteArrayList out;
    for (const Block& block : blocks) {
        QByteArray text = block.name() + " [" + QByteArray::number(int(block.format())) + "]";
        for (const Block::Field& field : block.fields())
            text += " {" + field.first + "|" + field.second + "}";
        out << text;
    }
    return out;
}

// Takes a fixed set of headers, each with its format, with or without a colon.
bool tableMatcher(const QByteArray& header, bool, Block::Format& format)
{
    static const QHash<QByteArray, Block::Format> table = {
        {"PROTOCOL PREAMBLE", Block::KeyValue},
        {"FIRMWARE UPDATE", Block::KeyValue},
        {"LIST", Block::Numbered},
        {"TEXT", Block::Lines},
        {"QUIET", Block::NoFields},
        {"ACK", Block::KeyValue},
        {"TAIL", Block::KeyValue},
    };
    const auto found = table.constFind(header);
    if (found == table.constEnd())
        return false;
    format = *found;
    return true;
}

const QByteArray kStream = "PROTOCOL PREAMBLE:\r\nVersion: 1.0\r\n\r\n"
                           "\r\n"
                           "UNKNOWN BLOCK:\nJunk: x\n\n"
                           "  FIRMWARE UPDATE:  \r\nPort :  9993\r\nStatus:Update in Progress\r\n"
                           "nocolon\r\nSize: 10:20\r\n\r\n"
                           "\n"
                           "LIST\n12 first item\n7\tsecond\nbad line\n\n"
                           "TEXT:\nany line: at all\n   indented  \n\n"
                           "QUIET:\nk: v\n\n"
                           "ACK:\n\n"
                           "TAIL:\nKey: partial";

const QByteArrayList kExpected = {
    "PROTOCOL PREAMBLE [0] {Version|1.0}",
    "FIRMWARE UPDATE [0] {Port|9993} {Status|Update in Progress} {Size|10:20}",
    "LIST [1] {12|first item} {7|second}",
    "TEXT [2] {|any line: at all} {|indented}",
    "QUIET [3]",
    "ACK [0]",
};
// Blocks read or skipped before the unfinished tail.
constexpr int kEndedBlocks = 7;

std::vector<Block> parseWhole(const QByteArray& bytes,
                              const BlockProtocol::HeaderMatcher& matcher = tableMatcher)
{
    BlockProtocol::ParserState state;
    std::vector<Block> blocks;
    BlockProtocol::parseBlocks(state, bytes, matcher, blocks);
    return blocks;
}

BlockProtocol::HeaderMatcher formatMatcher(Block::Format format)
{
    return [format](const QByteArray&, bool, Block::Format& out) {
        out = format;
        return true;
    };
}

} // namespace

class tst_BlockProtocolFormat : public QObject
{
    Q_OBJECT
private slots:
    void wholeStream();
    void everySplitPoint();
    void byteByByte();
    void fieldLines_data();
    void fieldLines();
    void headerColon_data();
    void headerColon();
    void serialize_data();
    void serialize();
    void roundTrip_data();
    void roundTrip();
    void textLength();
    void port_data();
    void port();
    void status_data();
    void status();
    void firmwareUpdateDescription();
    void firmwareUpdateBlock();
    void limits_data();
    void limits();
    void limitsHoldAcrossChunks();
};

void tst_BlockProtocolFormat::wholeStream()
{
    BlockProtocol::ParserState state;
    std::vector<Block> blocks;
    QVERIFY(BlockProtocol::parseBlocks(state, kStream, tableMatcher, blocks));
    QCOMPARE(describe(blocks), kExpected);

    // The unfinished tail waits for its line end and empty line.
    QVERIFY(!BlockProtocol::parseBlocks(state, QByteArray(" value"), tableMatcher, blocks));
    QVERIFY(BlockProtocol::parseBlocks(state, QByteArray("\n\n"), tableMatcher, blocks));
    QCOMPARE(describe(blocks).last(), QByteArray("TAIL [0] {Key|partial value}"));
    QVERIFY(!state.overflowed());
}

void tst_BlockProtocolFormat::everySplitPoint()
{
    // Every pair of cut points: three chunks, cut anywhere (inside "\r\n" too).
    for (qsizetype first = 0; first <= kStream.size(); ++first) {
        for (qsizetype second = first; second <= kStream.size(); ++second) {
            BlockProtocol::ParserState state;
            std::vector<Block> blocks;
            BlockProtocol::parseBlocks(state, kStream.left(first), tableMatcher, blocks);
            BlockProtocol::parseBlocks(state, kStream.mid(first, second - first), tableMatcher,
                                       blocks);
            BlockProtocol::parseBlocks(state, kStream.mid(second), tableMatcher, blocks);
            BlockProtocol::parseBlocks(state, QByteArray("\n\n"), tableMatcher, blocks);
            QByteArrayList expected = kExpected;
            expected << "TAIL [0] {Key|partial}";
            if (describe(blocks) != expected) {
                QCOMPARE(describe(blocks), expected);
                QFAIL(qPrintable(QStringLiteral("cut at %1 and %2").arg(first).arg(second)));
            }
        }
    }
}

void tst_BlockProtocolFormat::byteByByte()
{
    BlockProtocol::ParserState state;
    std::vector<Block> blocks;
    int ended = 0;
    for (char c : kStream) {
        if (BlockProtocol::parseBlocks(state, &c, 1, tableMatcher, blocks))
            ++ended;
    }
    QCOMPARE(describe(blocks), kExpected);
    QCOMPARE(ended, kEndedBlocks);
}

void tst_BlockProtocolFormat::fieldLines_data()
{
    QTest::addColumn<Block::Format>("format");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArrayList>("fields"); // key, value; empty when the line is dropped

    const auto kv = Block::KeyValue;
    QTest::newRow("kv blank after colon")
        << kv << QByteArray("Key: value") << QByteArrayList{"Key", "value"};
    QTest::newRow("kv no blank") << kv << QByteArray("Key:value") << QByteArrayList{"Key", "value"};
    QTest::newRow("kv spaces around")
        << kv << QByteArray("\tKey  :   two  words \r") << QByteArrayList{"Key", "two  words"};
    QTest::newRow("kv second colon") << kv << QByteArray("a:b:c") << QByteArrayList{"a", "b:c"};
    QTest::newRow("kv no colon") << kv << QByteArray("no colon here") << QByteArrayList{};
    QTest::newRow("kv leading colon") << kv << QByteArray(":value") << QByteArrayList{};
    QTest::newRow("kv empty value") << kv << QByteArray("Key:") << QByteArrayList{"Key", ""};
    QTest::newRow("kv value ends in colon")
        << kv << QByteArray("Time: 12:") << QByteArrayList{"Time", "12:"};

    const auto num = Block::Numbered;
    QTest::newRow("num") << num << QByteArray("12 first item")
                         << QByteArrayList{"12", "first item"};
    QTest::newRow("num tab and blanks")
        << num << QByteArray("7\t  x  y") << QByteArrayList{"7", "x  y"};
    QTest::newRow("num letter in number") << num << QByteArray("12a b") << QByteArrayList{};
    QTest::newRow("num no number") << num << QByteArray("abc def") << QByteArrayList{};
    QTest::newRow("num digits only") << num << QByteArray("123") << QByteArrayList{"", ""};

    QTest::newRow("lines") << Block::Lines << QByteArray("  any: thing  ")
                           << QByteArrayList{"", "any: thing"};
    QTest::newRow("lines trailing colon")
        << Block::Lines << QByteArray("ends:") << QByteArrayList{"", "ends:"};
    QTest::newRow("nofields") << Block::NoFields << QByteArray("k: v") << QByteArrayList{};
}

void tst_BlockProtocolFormat::fieldLines()
{
    QFETCH(Block::Format, format);
    QFETCH(QByteArray, line);
    QFETCH(QByteArrayList, fields);

    const auto blocks = parseWhole("HEAD:\n" + line + "\n\n", formatMatcher(format));
    QCOMPARE(blocks.size(), size_t(1));
    QCOMPARE(blocks[0].format(), format);
    QByteArrayList got;
    for (const Block::Field& field : blocks[0].fields())
        got << field.first << field.second;
    QCOMPARE(got, fields);
}

void tst_BlockProtocolFormat::headerColon_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("hadColon");

    QTest::newRow("colon") << QByteArray("ACK:") << QByteArray("ACK") << true;
    QTest::newRow("no colon") << QByteArray("ACK") << QByteArray("ACK") << false;
    QTest::newRow("blanks around") << QByteArray("  ACK:  \r") << QByteArray("ACK") << true;
    QTest::newRow("one colon taken") << QByteArray("ACK::") << QByteArray("ACK:") << true;
    QTest::newRow("blank before colon") << QByteArray("ACK :") << QByteArray("ACK ") << true;
    QTest::newRow("colon inside") << QByteArray("A:B") << QByteArray("A:B") << false;
}

void tst_BlockProtocolFormat::headerColon()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, header);
    QFETCH(bool, hadColon);

    QByteArrayList seen;
    bool colon = !hadColon;
    const auto blocks =
        parseWhole(line + "\nk: v\n\n", [&](const QByteArray& h, bool c, Block::Format&) {
            seen << h;
            colon = c;
            return true;
        });
    QCOMPARE(seen, QByteArrayList{header});
    QCOMPARE(colon, hadColon);
    QCOMPARE(blocks.size(), size_t(1));
    QCOMPARE(blocks[0].name(), header);
}

void tst_BlockProtocolFormat::serialize_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<Block::Format>("format");
    QTest::addColumn<QByteArrayList>("fields");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ack") << QByteArray("ACK") << Block::KeyValue << QByteArrayList{}
                         << QByteArray("ACK:\n\n");
    QTest::newRow("name with colon")
        << QByteArray("NAME:") << Block::KeyValue << QByteArrayList{} << QByteArray("NAME:\n\n");
    QTest::newRow("key value") << QByteArray("FIRMWARE UPDATE") << Block::KeyValue
                               << QByteArrayList{"Size", "100", "K:", "v"}
                               << QByteArray("FIRMWARE UPDATE:\nSize: 100\nK: v\n\n");
    QTest::newRow("numbered") << QByteArray("LIST") << Block::Numbered
                              << QByteArrayList{"1", "one", "2", "two"}
                              << QByteArray("LIST:\n1 one\n2 two\n\n");
    QTest::newRow("lines") << QByteArray("TEXT") << Block::Lines
                           << QByteArrayList{"ignored", "a line"}
                           << QByteArray("TEXT:\na line\n\n");
    QTest::newRow("no fields") << QByteArray("QUIET") << Block::NoFields << QByteArrayList{"k", "v"}
                               << QByteArray("QUIET:\nk v\n\n");
}

void tst_BlockProtocolFormat::serialize()
{
    QFETCH(QByteArray, name);
    QFETCH(Block::Format, format);
    QFETCH(QByteArrayList, fields);
    QFETCH(QByteArray, bytes);

    Block block(name);
    block.setFormat(format);
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2)
        block.addField(fields[i], fields[i + 1]);
    QCOMPARE(BlockProtocol::serializeBlock(block), bytes);
}

void tst_BlockProtocolFormat::roundTrip_data()
{
    QTest::addColumn<Block::Format>("format");
    QTest::addColumn<QByteArrayList>("fields");

    QTest::newRow("key value") << Block::KeyValue
                               << QByteArrayList{"Size", "100", "Empty", "", "Time", "10:20:"};
    QTest::newRow("numbered") << Block::Numbered << QByteArrayList{"1", "one", "22", "two: 2"};
    QTest::newRow("lines") << Block::Lines << QByteArrayList{"", "first:", "", "a: b"};
}

void tst_BlockProtocolFormat::roundTrip()
{
    QFETCH(Block::Format, format);
    QFETCH(QByteArrayList, fields);

    Block block("BLOCK");
    block.setFormat(format);
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2)
        block.addField(fields[i], fields[i + 1]);
    const auto blocks = parseWhole(BlockProtocol::serializeBlock(block), formatMatcher(format));
    QCOMPARE(describe(blocks), describe({block}));
}

void tst_BlockProtocolFormat::textLength()
{
    Block block("ABC");
    QCOMPARE(block.textLength(), 3u);
    block.addField("key", "value");
    block.addField("k", "");
    QCOMPARE(block.textLength(), 12u);
    block.setName("LONGER NAME");
    QCOMPARE(block.textLength(), 20u);
    block.clear();
    QCOMPARE(block.textLength(), 11u);
    QVERIFY(block.fields().empty());
    QCOMPARE(block.name(), QByteArray("LONGER NAME"));
}

void tst_BlockProtocolFormat::port_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("port");

    QTest::newRow("9993") << QByteArray("9993") << true << 9993;
    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("highest") << QByteArray("65535") << true << 65535;
    QTest::newRow("one above") << QByteArray("65536") << false << 0;
    QTest::newRow("70000") << QByteArray("70000") << false << 0;
    QTest::newRow("minus one") << QByteArray("-1") << false << 0;
    QTest::newRow("minus zero") << QByteArray("-0") << true << 0;
    QTest::newRow("plus and blanks") << QByteArray(" \t+80") << true << 80;
    QTest::newRow("text after number") << QByteArray("80abc") << true << 80;
    QTest::newRow("not a number") << QByteArray("abc") << false << 0;
    QTest::newRow("empty") << QByteArray() << false << 0;
    QTest::newRow("sign alone") << QByteArray("- 5") << false << 0;
    QTest::newRow("long max") << QByteArray("2147483647") << false << 0;
    QTest::newRow("overflow") << QByteArray("2147483648") << false << 0;
    QTest::newRow("wraps to 1 as u32") << QByteArray("4294967297") << false << 0;
    QTest::newRow("huge") << QByteArray("99999999999999999999999") << false << 0;
    QTest::newRow("long min") << QByteArray("-2147483648") << false << 0;
}

void tst_BlockProtocolFormat::port()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, port);

    uint16_t value = 4242;
    QCOMPARE(Protocols::FirmwareUpdate::portFromString(text, value), ok);
    QCOMPARE(int(value), ok ? port : 4242);
}

void tst_BlockProtocolFormat::status_data()
{
    using Protocols::FirmwareUpdate::Status;
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("status");

    QTest::newRow("Complete") << QByteArray("Complete") << true << int(Status::Complete);
    QTest::newRow("complete") << QByteArray("complete") << true << int(Status::Complete);
    QTest::newRow("FAILED") << QByteArray("FAILED") << true << int(Status::Failed);
    QTest::newRow("in progress") << QByteArray("Update in Progress") << true
                                 << int(Status::UpdateInProgress);
    QTest::newRow("in progress lower")
        << QByteArray("update in progress") << true << int(Status::UpdateInProgress);
    QTest::newRow("double blank") << QByteArray("Update  in Progress") << false << 0;
    QTest::newRow("longer") << QByteArray("Completed") << false << 0;
    QTest::newRow("shorter") << QByteArray("Fail") << false << 0;
    QTest::newRow("empty") << QByteArray() << false << 0;
    QTest::newRow("latin-1 letter") << QByteArray("F\xc1ILED") << false << 0;
}

void tst_BlockProtocolFormat::status()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, status);

    auto value = Protocols::FirmwareUpdate::Status(99);
    QCOMPARE(Protocols::FirmwareUpdate::statusFromString(text, value), ok);
    QCOMPARE(int(value), ok ? status : 99);
}

void tst_BlockProtocolFormat::firmwareUpdateDescription()
{
    QStringList events;
    const auto description = Protocols::FirmwareUpdate::blockDescription(
        [&](uint16_t port) { events << QStringLiteral("port %1").arg(port); },
        [&](Protocols::FirmwareUpdate::Status status) {
            events << QStringLiteral("status %1").arg(int(status));
        });
    QCOMPARE(description.format, Block::KeyValue);
    QVERIFY(description.matcher("FIRMWARE UPDATE", nullptr));
    QVERIFY(description.matcher("firmware Update", nullptr));
    QVERIFY(!description.matcher("FIRMWARE UPDATES", nullptr));
    QVERIFY(!description.matcher("FIRMWARE", nullptr));

    BlockProtocol::Arguments arguments;
    QVERIFY(description.matcher("Firmware Update", &arguments));
    QVERIFY(arguments.empty());

    Block block("FIRMWARE UPDATE");
    block.addField("Size", "100");
    block.addField("port", "9993");
    block.addField("Status", "Failed");
    block.addField("Port", "70000");
    block.addField("Port", "-1");
    block.addField("Port", "none");
    block.addField("STATUS", "bogus");
    block.addField("Status", "update in progress");
    block.addField("Other", "1");
    block.addField("PORT", "80");
    const auto replies = description.handler(block, {}, BlockProtocol::ClientInfo());
    QVERIFY(replies.empty());
    QCOMPARE(events, QStringList({"port 9993", "status 1", "status 2", "port 80"}));
}

void tst_BlockProtocolFormat::firmwareUpdateBlock()
{
    Block block = Protocols::FirmwareUpdate::makeBlock();
    const BlockProtocol::Tag size =
        Protocols::FirmwareUpdate::makeField(Protocols::FirmwareUpdate::Tags::Size, 4294967295u);
    QCOMPARE(size.tag, uint8_t(Protocols::FirmwareUpdate::Tags::Size));
    block.addField(size.key, size.value);
    QCOMPARE(BlockProtocol::serializeBlock(block),
             QByteArray("FIRMWARE UPDATE:\nSize: 4294967295\n\n"));
}

void tst_BlockProtocolFormat::limits_data()
{
    using BlockProtocol::kMaxBlockLength;
    using BlockProtocol::kMaxLineLength;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("overflowed");
    QTest::addColumn<int>("blocks");

    const QByteArray longest = "K: " + QByteArray(kMaxLineLength - 3, 'v');
    QTest::newRow("longest line") << "A:\n" + longest + "\n\n" << false << 1;
    QTest::newRow("line too long") << "A:\n" + longest + "v\n\n" << true << 0;
    QTest::newRow("no line end") << QByteArray(kMaxLineLength + 1, 'x') << true << 0;
    QTest::newRow("skipped line too long") << "OTHER:\n" + longest + "v\n\nA:\n\n" << true << 0;

    // Lines of 1000 bytes with their line ends.
    const QByteArray line = "K: " + QByteArray(996, 'v') + "\n";
    const int fit = int(kMaxBlockLength / line.size()); // the header fits in what is left
    QTest::newRow("largest block") << "A:\n" + line.repeated(fit) + "\n" << false << 1;
    QTest::newRow("block too large") << "A:\n" + line.repeated(fit + 1) + "\n" << true << 0;
    QTest::newRow("many blocks") << ("A:\n" + line.repeated(fit) + "\n").repeated(3) << false << 3;
    QTest::newRow("blank lines between blocks")
        << "A:\n\n" + QByteArray(2 * kMaxBlockLength, '\n') << false << 1;
    QTest::newRow("blocks before the fault stay")
        << "A:\nk: v\n\nA:\n" + line.repeated(fit + 1) << true << 1;
}

void tst_BlockProtocolFormat::limits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, overflowed);
    QFETCH(int, blocks);

    BlockProtocol::ParserState state;
    std::vector<Block> out;
    const auto any = formatMatcher(Block::KeyValue);
    BlockProtocol::parseBlocks(state, bytes, any, out);
    QCOMPARE(state.overflowed(), overflowed);
    QCOMPARE(int(out.size()), blocks);
    if (overflowed) {
        // Nothing more is read once the peer went too far.
        QVERIFY(!BlockProtocol::parseBlocks(state, QByteArray("B:\n\n"), any, out));
        QCOMPARE(int(out.size()), blocks);
    }
}

void tst_BlockProtocolFormat::limitsHoldAcrossChunks()
{
    BlockProtocol::ParserState state;
    std::vector<Block> out;
    const auto any = formatMatcher(Block::KeyValue);
    const QByteArray piece(1000, 'x');
    for (qsizetype sent = 0; sent <= BlockProtocol::kMaxLineLength; sent += piece.size())
        BlockProtocol::parseBlocks(state, piece, any, out);
    QVERIFY(state.overflowed());
}

QTEST_GUILESS_MAIN(tst_BlockProtocolFormat)
#include "tst_blockprotocolformat.moc"
