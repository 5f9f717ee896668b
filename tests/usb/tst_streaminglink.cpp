#include "xmegatestsupport.h"

#include "platform/bytewriter.h"
#include "usb/rpc/vornosrpcexception.h"
#include "usb/xmega/streamchunkassembler.h"
#include "usb/xmega/streamingxmegausbdevice.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::vector<uint32_t>)

using VornOSRPC::StreamChunkAssembler;

namespace {

struct Link
{
    explicit Link(std::shared_ptr<Sim::XmegaUnit> unit = makeUnit())
        : bench(std::move(unit))
    {
        stream = StreamingXmegaUSBDevice::create(bench.device());
        if (stream)
            stream->setClock(clock);
        bench.clearLog();
    }

    XmegaBench bench;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<StreamingXmegaUSBDevice> stream;
};

// A message the unit takes as whole: its first word is its length.
std::vector<uint8_t> message(size_t size, uint8_t seed = 0)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i);
    Platform::ByteWriter(bytes.data(), bytes.size()).u32(0, uint32_t(size));
    return bytes;
}

// An exchange-word request and the reply the unit gives to it.
const std::vector<uint8_t> kWordRequest = {12, 0, 0, 0, 4, 0, 0, 0, 0x78, 0x56, 0x34, 0x12};
const std::vector<uint8_t> kWordReply = {12, 0, 0, 0, 0, 0, 0, 0, 0x87, 0xA9, 0xCB, 0xED};

std::vector<uint8_t> chunk(uint32_t sequence, uint32_t total, std::vector<uint8_t> bytes)
{
    std::vector<uint8_t> out(8 + bytes.size());
    Platform::ByteWriter w(out.data(), out.size());
    w.u32(0, sequence);
    w.u32(4, total);
    w.bytes(8, bytes.data(), bytes.size());
    return out;
}

} // namespace

class TestStreamingLink : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void incompatibleProtocolIsRefusedOnUse();
    void unitThatDoesNotTellItsVersionIsNoStream();
    void identity();
    void messageRoundTrip();
    void writeChunking_data();
    void writeChunking();
    void transactionIds();
    void unitWithoutAUsableTransactionIdIsNotWritten();
    void stalledChunkRestartsTheMessage();
    void wrongSequenceIsRefusedAndReadAgain();
    void timeoutServesOneRead();
    void failuresOfTheRead();
    void chunkLongerThanARequestIsRefused();
    void implausibleTotalIsRefused();
    void waitReady_data();
    void waitReady();
    void assembler();
};

void TestStreamingLink::incompatibleProtocolIsRefusedOnUse()
{
    Sim::XmegaUnit::Options options;
    options.protocolVersion = 0x0100;
    Link link(std::make_shared<Sim::XmegaUnit>(options));
    QVERIFY(link.stream);
    QCOMPARE(link.stream->protocolVersion(), uint16_t(0x0100));
    std::vector<uint8_t> in;
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, link.stream->start());
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, link.stream->stop());
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, link.stream->waitReady(0));
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException,
                             link.stream->writeStream(kWordRequest));
    try {
        link.stream->readStream(in);
        QFAIL("read went through");
    } catch (const VornOSRPC::Exception& e) {
        QCOMPARE(QString(e.what()), QString("Device protocol incompatible"));
    }
    QVERIFY(link.bench.log().empty());
}

void TestStreamingLink::unitThatDoesNotTellItsVersionIsNoStream()
{
    XmegaBench bench(makeUnit(0xC3E4, true));
    CVN::USB::IUSBDevice* device = bench.device();
    QVERIFY(!StreamingXmegaUSBDevice::create(device));
    try {
        StreamingXmegaUSBDevice stream(device);
        QFAIL("constructed");
    } catch (const VornOSRPC::Exception& e) {
        QCOMPARE(QString(e.what()), QString("USB Request IFACE_VR_APP_COMMON_PROTOCOL_VERSION "
                                            "failed with kCVNUsbPipeStalled"));
    }
}

void TestStreamingLink::identity()
{
    Link link;
    QVERIFY(link.stream);
    QCOMPARE(link.stream->productId(), uint16_t(0xC3E4));
    QCOMPARE(link.stream->vendorId(), uint16_t(0x2C4A));
    QVERIFY(link.stream->identifier().empty());
    QVERIFY(link.stream->start());
    QVERIFY(link.bench.unit().streamEnabled());
    QVERIFY(link.stream->stop());
    QVERIFY(!link.bench.unit().streamEnabled());
    Sim::UsbBus::instance().unplug(link.bench.id());
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::Exception, link.stream->productId());
}

void TestStreamingLink::messageRoundTrip()
{
    Link link;
    QVERIFY(link.stream->writeStream(kWordRequest));
    QCOMPARE(link.bench.unit().rpc().lastRequest(), kWordRequest);
    std::vector<uint8_t> reply;
    QVERIFY(link.stream->readStream(reply));
    QCOMPARE(reply, kWordReply);
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamReplyAck).size()), 1);
    QVERIFY(link.bench.requests(Sim::XmegaUnit::StreamReplyRestart).empty());
    QVERIFY(!link.stream->writeStream({}));
}

void TestStreamingLink::writeChunking_data()
{
    QTest::addColumn<uint32_t>("size");
    QTest::addColumn<std::vector<uint32_t>>("chunks");
    QTest::newRow("small") << 12u << std::vector<uint32_t>{12};
    QTest::newRow("one full chunk") << 65532u << std::vector<uint32_t>{65532};
    QTest::newRow("one byte more") << 65533u << std::vector<uint32_t>{65532, 1};
    QTest::newRow("three") << 140000u << std::vector<uint32_t>{65532, 65532, 8936};
}

void TestStreamingLink::writeChunking()
{
    QFETCH(uint32_t, size);
    QFETCH(std::vector<uint32_t>, chunks);
    Link link;
    const auto bytes = message(size, 3);
    QVERIFY(link.stream->writeStream(bytes));
    const auto writes = link.bench.requests(Sim::XmegaUnit::StreamWriteChunk);
    QCOMPARE(int(writes.size()), int(chunks.size()));
    for (size_t i = 0; i < chunks.size(); ++i) {
        QCOMPARE(writes[i].value, uint16_t(i));
        QCOMPARE(uint32_t(writes[i].length), chunks[i]);
    }
    QCOMPARE(link.bench.unit().rpc().lastRequest(), bytes);
}

void TestStreamingLink::transactionIds()
{
    {
        Link link;
        std::vector<uint16_t> ids;
        for (int i = 0; i < 14; ++i) {
            QVERIFY(link.stream->writeStream(kWordRequest));
            std::vector<uint8_t> reply;
            QVERIFY(link.stream->readStream(reply));
        }
        for (const auto& s : link.bench.requests(Sim::XmegaUnit::StreamReset))
            ids.push_back(s.value);
        QCOMPARE(ids, (std::vector<uint16_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 2}));
    }

    Sim::XmegaUnit::Options options;
    options.initialTid = 14;
    Link fresh(std::make_shared<Sim::XmegaUnit>(options));
    QVERIFY(fresh.stream->writeStream(kWordRequest));
    QCOMPARE(fresh.bench.requests(Sim::XmegaUnit::StreamReset).at(0).value, uint16_t(2));
}

void TestStreamingLink::unitWithoutAUsableTransactionIdIsNotWritten()
{
    Sim::XmegaUnit::Options options;
    options.initialTid = 0;
    Link link(std::make_shared<Sim::XmegaUnit>(options));
    QVERIFY(!link.stream->writeStream(kWordRequest));
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamBufferStatus).size()), 21);
    QVERIFY(link.bench.requests(Sim::XmegaUnit::StreamWriteChunk).empty());
    QCOMPARE(link.clock->sleptMs(), uint64_t(20 * 200));
}

void TestStreamingLink::stalledChunkRestartsTheMessage()
{
    Link link;
    const auto bytes = message(140000, 9);
    Sim::XmegaFaults faults;
    faults.stallEvery = 2;
    link.bench.unit().setFaults(faults);
    // Each attempt gets one chunk through before the next stall: a 3-chunk message never
    // makes it, and the write gives up after its attempts.
    QVERIFY(!link.stream->writeStream(bytes));
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamReset).size()), 20);

    // Past the transaction-id discovery, the fifth request is the second chunk.
    std::vector<uint8_t> reply;
    QVERIFY(link.stream->writeStream(kWordRequest) && link.stream->readStream(reply));
    faults = Sim::XmegaFaults();
    faults.stallRequest = 5;
    link.bench.unit().setFaults(faults);
    link.bench.clearLog();
    const uint64_t slept = link.clock->sleptMs();
    const auto small = message(70000, 4);
    QVERIFY(link.stream->writeStream(small));
    std::vector<uint16_t> indexes;
    for (const auto& s : link.bench.requests(Sim::XmegaUnit::StreamWriteChunk))
        indexes.push_back(s.value);
    QCOMPARE(indexes, (std::vector<uint16_t>{0, 1, 0, 1}));
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamReset).size()), 2);
    QCOMPARE(link.bench.unit().rpc().lastRequest(), small);
    QCOMPARE(link.clock->sleptMs() - slept, uint64_t(200));
}

void TestStreamingLink::wrongSequenceIsRefusedAndReadAgain()
{
    Link link;
    Sim::XmegaFaults faults;
    faults.wrongSequenceOnce = true;
    link.bench.unit().setFaults(faults);
    QVERIFY(link.stream->writeStream(kWordRequest));
    std::vector<uint8_t> reply;
    QVERIFY(link.stream->readStream(reply));
    QCOMPARE(reply, kWordReply);
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamReplyRestart).size()), 1);
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamReadChunk).size()), 2);
}

void TestStreamingLink::timeoutServesOneRead()
{
    Link link;
    Sim::XmegaFaults faults;
    faults.rpcNeverReplies = true;
    link.bench.unit().setFaults(faults);
    QVERIFY(link.stream->writeStream(kWordRequest));
    link.stream->setTimeout(100);
    std::vector<uint8_t> reply{1};
    try {
        link.stream->readStream(reply);
        QFAIL("read came back");
    } catch (const VornOSRPC::RequestTimedOutException& e) {
        QCOMPARE(QString(e.what()), QString("Request timed out"));
    }
    QCOMPARE(reply, std::vector<uint8_t>{1});
    const uint64_t first = link.clock->sleptMs();
    QVERIFY(first >= 100 && first < 1000);
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::RequestTimedOutException, link.stream->readStream(reply));
    QVERIFY(link.clock->sleptMs() - first >= 30000);
}

void TestStreamingLink::failuresOfTheRead()
{
    Link link;
    std::vector<uint8_t> reply;
    // A stalled status read ends the read.
    Sim::XmegaFaults faults;
    faults.stallRequest = 1;
    link.bench.unit().setFaults(faults);
    QVERIFY(!link.stream->readStream(reply));

    // A chunk too short for its header.
    faults = Sim::XmegaFaults();
    faults.announceChunkLength = 4;
    link.bench.unit().setFaults(faults);
    QVERIFY(link.stream->writeStream(kWordRequest));
    QVERIFY(!link.stream->readStream(reply));

    // Any other failure is told with the request's name and the status.
    faults = Sim::XmegaFaults();
    faults.noReplyTo = Sim::XmegaUnit::StreamReadChunk;
    link.bench.unit().setFaults(faults);
    link.stream->setRequestTimeout(30);
    QVERIFY(link.stream->writeStream(kWordRequest));
    try {
        link.stream->readStream(reply);
        QFAIL("read went through");
    } catch (const VornOSRPC::Exception& e) {
        QCOMPARE(QString(e.what()), QString("USB Request IFACE_VR_STREAM_READ_STREAM failed with "
                                            "kCVNUsbTransactionTimeout"));
    }
}

void TestStreamingLink::chunkLongerThanARequestIsRefused()
{
    Link link;
    Sim::XmegaFaults faults;
    faults.announceChunkLength = 70000;
    link.bench.unit().setFaults(faults);
    QVERIFY(link.stream->writeStream(kWordRequest));
    link.stream->setTimeout(200);
    std::vector<uint8_t> reply;
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::RequestTimedOutException, link.stream->readStream(reply));
    QVERIFY(link.bench.requests(Sim::XmegaUnit::StreamReadChunk).empty());
    QVERIFY(!link.bench.requests(Sim::XmegaUnit::StreamReplyRestart).empty());
}

void TestStreamingLink::implausibleTotalIsRefused()
{
    Link link;
    Sim::XmegaFaults faults;
    faults.announceTotal = StreamChunkAssembler::kMaxMessageSize + 1;
    link.bench.unit().setFaults(faults);
    QVERIFY(link.stream->writeStream(kWordRequest));
    link.stream->setTimeout(200);
    std::vector<uint8_t> reply;
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::RequestTimedOutException, link.stream->readStream(reply));
    QVERIFY(link.bench.requests(Sim::XmegaUnit::StreamReplyAck).empty());
    QVERIFY(!link.bench.requests(Sim::XmegaUnit::StreamReplyRestart).empty());
}

void TestStreamingLink::waitReady_data()
{
    QTest::addColumn<bool>("ready");
    QTest::addColumn<uint32_t>("timeout");
    QTest::addColumn<int>("reads");
    QTest::newRow("ready") << true << 120u << 1;
    QTest::newRow("once") << false << 0u << 1;
    QTest::newRow("120 ms") << false << 120u << 3;
    QTest::newRow("50 ms") << false << 50u << 1;
    QTest::newRow("51 ms") << false << 51u << 2;
}

void TestStreamingLink::waitReady()
{
    QFETCH(bool, ready);
    QFETCH(uint32_t, timeout);
    QFETCH(int, reads);
    Link link;
    link.bench.unit().setReady(ready);
    QCOMPARE(link.stream->waitReady(timeout), ready);
    QCOMPARE(int(link.bench.requests(Sim::XmegaUnit::StreamReady).size()), reads);
}

void TestStreamingLink::assembler()
{
    StreamChunkAssembler a;
    QCOMPARE(a.check(chunk(1, 4, {1}).data(), 9), StreamChunkAssembler::Refuse);
    auto first = chunk(0, 5, {1, 2});
    QCOMPARE(a.check(first.data(), first.size()), StreamChunkAssembler::NeedMore);
    QCOMPARE(a.append(first.data(), first.size()), StreamChunkAssembler::NeedMore);
    // A later chunk's total is not read again; its sequence must follow on.
    QCOMPARE(a.check(chunk(2, 5, {3}).data(), 9), StreamChunkAssembler::Refuse);
    QCOMPARE(a.check(chunk(0, 5, {3}).data(), 9), StreamChunkAssembler::Refuse);
    auto second = chunk(1, 99, {3, 4, 5});
    QCOMPARE(a.check(second.data(), second.size()), StreamChunkAssembler::NeedMore);
    QCOMPARE(a.append(second.data(), second.size()), StreamChunkAssembler::Complete);
    QCOMPARE(a.takeMessage(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    auto over = chunk(0, 2, {1, 2, 3});
    QCOMPARE(a.append(over.data(), over.size()), StreamChunkAssembler::Fail);
    a.reset();
    auto empty = chunk(0, 0, {});
    QCOMPARE(a.append(empty.data(), empty.size()), StreamChunkAssembler::Complete);
    QCOMPARE(a.check(empty.data(), 7), StreamChunkAssembler::Fail);
    auto huge = chunk(0, StreamChunkAssembler::kMaxMessageSize + 1, {1});
    a.reset();
    QCOMPARE(a.check(huge.data(), huge.size()), StreamChunkAssembler::Refuse);
}

QTEST_GUILESS_MAIN(TestStreamingLink)
#include "tst_streaminglink.moc"
