#include "deckbench.h"

#include "plugins/deckcontroller/deckcontrollerxmegarequests.h"
#include "plugins/deckcontroller/streaming2xmegausbdevice.h"
#include "usb/rpc/rpcserviceregistry.h"
#include "usb/rpc/streamingrpcdevice.h"
#include "usb/rpc/vornosrpcexception.h"

#include <QtTest>

namespace {

Sim::DeckControllerUnit::DeckOptions smallPackets()
{
    // Full-speed packets keep the stream's chunks at 32 KiB.
    Sim::DeckControllerUnit::DeckOptions options;
    options.streamPacketSize = 64;
    options.xmegaPacketSize = 64;
    return options;
}

std::shared_ptr<Streaming2XmegaUSBDevice> streamOf(const DeckBench& bench)
{
    return std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(bench.handle().device());
}

std::vector<Sim::LogEntry> bulk(const DeckBench& bench, Sim::LogEntry::Kind kind, uint8_t endpoint)
{
    std::vector<Sim::LogEntry> out;
    for (const Sim::LogEntry& e : bench.log())
        if (e.kind == kind && e.endpoint == endpoint)
            out.push_back(e);
    return out;
}

struct Collect : XmegaUSBDevice::ProgressCallback
{
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    void progress(uint32_t done, uint32_t total) override { calls.emplace_back(done, total); }
};

} // namespace

class TestStreamingDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writeEndsWithAShortPacket_data();
    void writeEndsWithAShortPacket();
    void replyOfWholeChunksEndsWithAnEmptyRead_data();
    void replyOfWholeChunksEndsWithAnEmptyRead();
    void readWaitsWhileBusyAndTimesOut();
    void startAndStopAskTheStateFirst();
    void waitReadyWithZeroAsksOnce();
    void unitWithoutStreamThrowsInsteadOfWriting();
    void memoryReadInWholeTransferUnits_data();
    void memoryReadInWholeTransferUnits();
};

void TestStreamingDevice::writeEndsWithAShortPacket_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("pieces");
    // outChunk = 64 * 512.
    QTest::newRow("empty") << 0 << QList<int>{0};
    QTest::newRow("short") << 63 << QList<int>{63};
    QTest::newRow("one packet") << 64 << QList<int>{64, 0};
    QTest::newRow("one chunk") << 32768 << QList<int>{32768, 0};
    QTest::newRow("chunk and a bit") << 32769 << QList<int>{32768, 1};
    QTest::newRow("chunk and a packet") << 32832 << QList<int>{32768, 64, 0};
}

void TestStreamingDevice::writeEndsWithAShortPacket()
{
    QFETCH(int, length);
    QFETCH(QList<int>, pieces);
    DeckBench bench(DeckBench::bootableUnit(smallPackets()));
    auto stream = streamOf(bench);
    QVERIFY(stream && stream->hasStream());
    bench.clearLog();
    QVERIFY(stream->writeStream(std::vector<uint8_t>(size_t(length), 0x5A)));

    const auto log = bench.log();
    QVERIFY(!log.empty());
    QCOMPARE(log[0].setup.requestType, uint8_t(0x21));
    QCOMPARE(log[0].setup.index, uint16_t(1));
    QList<int> written;
    for (const auto& e : bulk(bench, Sim::LogEntry::BulkOut, 0x02))
        written << int(e.data.size());
    QCOMPARE(written, pieces);
    QCOMPARE(bench.unit().messages(), 1);
}

void TestStreamingDevice::replyOfWholeChunksEndsWithAnEmptyRead_data()
{
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<int>("reads");
    QTest::newRow("short") << 100 << 1;
    QTest::newRow("one chunk less one") << 32767 << 1;
    QTest::newRow("exactly one chunk") << 32768 << 2;
    QTest::newRow("one chunk and one") << 32769 << 2;
    QTest::newRow("two chunks") << 65536 << 3;
}

void TestStreamingDevice::replyOfWholeChunksEndsWithAnEmptyRead()
{
    QFETCH(int, replyLength);
    QFETCH(int, reads);
    DeckBench bench(DeckBench::bootableUnit(smallPackets()));
    // A service whose reply fills the output it is asked for; the reply adds 8 bytes.
    bench.unit().rpc().addService("Fill", [](const Sim::RpcCall& call, std::vector<uint8_t>* p) {
        for (uint32_t i = 0; i < call.outputLength; ++i)
            p->push_back(uint8_t(i * 7));
        return 0;
    });
    VornOSRPC::StreamingRpcDevice rpc(streamOf(bench));
    const uint32_t handle = rpc.openService("Fill", 500);
    QVERIFY(handle != VornOSRPC::RpcDevice::kInvalidHandle);
    bench.clearLog();

    std::vector<uint8_t> out(size_t(replyLength - 8), 0);
    QCOMPARE(rpc.call(handle, 0, nullptr, 0, out.data(), uint32_t(out.size()), nullptr, 0), 0);
    for (size_t i = 0; i < out.size(); ++i)
        QCOMPARE(out[i], uint8_t(i * 7));
    QCOMPARE(int(bulk(bench, Sim::LogEntry::BulkIn, 0x82).size()), reads);
    // Nothing is left for the next reply.
    QCOMPARE(Sim::UsbBus::instance().pendingTransfers(bench.unit().id()), 0);
    rpc.closeService(handle);
}

void TestStreamingDevice::readWaitsWhileBusyAndTimesOut()
{
    DeckBench bench;
    auto stream = streamOf(bench);
    Sim::DeckControllerFaults faults;
    faults.streamBusyPolls = 3;
    bench.unit().setDeckFaults(faults);
    VornOSRPC::StreamingRpcDevice rpc(stream);
    // A few busy answers are waited out.
    const uint32_t handle = rpc.openService("DeviceAccess", 500);
    QVERIFY(handle != VornOSRPC::RpcDevice::kInvalidHandle);
    QVERIFY(rpc.closeService(handle));

    faults.streamBusyPolls = 1 << 30;
    bench.unit().setDeckFaults(faults);
    QVERIFY(stream->writeStream({1, 2, 3}));
    stream->setTimeout(30);
    std::vector<uint8_t> reply;
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::RequestTimedOutException, stream->readStream(reply));
}

void TestStreamingDevice::startAndStopAskTheStateFirst()
{
    // A unit that speaks another protocol version: only requests that need it check it.
    auto options = smallPackets();
    options.protocolVersion = 0x0102;
    DeckBench bench(DeckBench::bootableUnit(options));
    auto stream = streamOf(bench);
    QVERIFY(stream && stream->hasStream());
    bench.clearLog();
    // Streaming already: nothing is sent.
    QVERIFY(stream->start());
    QCOMPARE(bench.count(0x60), 0);
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, stream->stop());
    QCOMPARE(bench.count(0x60), 0);
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, stream->waitReady(0));
}

void TestStreamingDevice::waitReadyWithZeroAsksOnce()
{
    DeckBench bench;
    auto stream = streamOf(bench);
    QVERIFY(stream->stop());
    bench.clearLog();
    QVERIFY(!stream->waitReady(0));
    int stateReads = 0;
    for (const auto& e : bench.log())
        stateReads += e.kind == Sim::LogEntry::Control && e.setup.requestType == 0xA1;
    QCOMPARE(stateReads, 1);
    QVERIFY(stream->start());
    QVERIFY(stream->waitReady(0));
}

void TestStreamingDevice::unitWithoutStreamThrowsInsteadOfWriting()
{
    Sim::DeckControllerUnit::DeckOptions options;
    options.bootloader = true;
    DeckBench bench(std::make_shared<Sim::DeckControllerUnit>(options));
    CVN::USB::IUSBDevice* usb = bench.handle().device()->usbDevice();
    auto stream = Streaming2XmegaUSBDevice::make(usb);
    QVERIFY(stream);
    QVERIFY(!stream->hasStream());
    QCOMPARE(stream->protocolVersion(), uint16_t(0xFFFF));
    bool bootloader = false;
    QVERIFY(stream->isBootloaderMode(bootloader) && bootloader);
    bench.clearLog();
    std::vector<uint8_t> reply;
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::Exception, stream->writeStream({1, 2, 3}));
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::Exception, stream->readStream(reply));
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::Exception, stream->start());
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::Exception, stream->stop());
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, stream->waitReady(10));
    QVERIFY(bench.log().empty());
}

void TestStreamingDevice::memoryReadInWholeTransferUnits_data()
{
    QTest::addColumn<uint32_t>("unit");
    QTest::addColumn<uint32_t>("size");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QList<int>>("reads");
    // Packets of 64 bytes.
    QTest::newRow("512-byte units") << 512u << 70000u << true << QList<int>{32768, 32768, 4464};
    QTest::newRow("96-byte units do not fit packets") << 96u << 1024u << false << QList<int>{};
    QTest::newRow("192-byte units") << 192u << 40000u << true << QList<int>{32640, 7360};
    QTest::newRow("nothing") << 512u << 0u << true << QList<int>{};
    QTest::newRow("zero unit") << 0u << 1024u << false << QList<int>{};
}

void TestStreamingDevice::memoryReadInWholeTransferUnits()
{
    QFETCH(uint32_t, unit);
    QFETCH(uint32_t, size);
    QFETCH(bool, ok);
    QFETCH(QList<int>, reads);
    DeckBench bench(DeckBench::bootableUnit(smallPackets()));
    bench.unit().overrideGeometry(0x10000, unit);
    auto device = bench.handle().device();
    bench.clearLog();

    std::vector<uint8_t> buffer(size + 1, 0xEE);
    Collect progress;
    QCOMPARE(
        DeckControllerXmegaRequests(*device).readMemoryBulk(0x100, size, buffer.data(), &progress),
        ok);
    QList<int> asked;
    for (const auto& e : bulk(bench, Sim::LogEntry::BulkIn, 0x81))
        asked << int(e.value);
    QCOMPARE(asked, reads);
    QCOMPARE(bench.count(0x3B), ok ? 1 : 0);
    if (!ok)
        return;
    const auto flash = bench.unit().bank(0);
    QVERIFY(std::equal(buffer.begin(), buffer.begin() + size, flash.begin() + 0x100));
    QCOMPARE(buffer[size], uint8_t(0xEE));
    QCOMPARE(int(progress.calls.size()), reads.size() + 1);
    QCOMPARE(progress.calls.back(), std::make_pair(uint32_t(reads.size()), uint32_t(reads.size())));
}

QTEST_GUILESS_MAIN(TestStreamingDevice)
#include "tst_streamingdevice.moc"
