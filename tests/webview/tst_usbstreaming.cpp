#include "novabench.h"
#include "tests/usb/simdevicefixture.h"

#include "plugins/webview/transport/usbstreaming2hostinterface.h"
#include "tests/usb/xmegatestsupport.h"
#include "usb/rpc/rpcexception.h"
#include "usb/rpc/rpcmessage.h"
#include "usb/rpc/streamingrpcdevice.h"
#include "usb/rpc/vornosrpcexception.h"

#include <QtTest>

using namespace CVN::USB;

namespace {

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 13 + (i >> 9));
    return bytes;
}

// The RPC message of a call to the echo service's method 0 with this input and output size.
std::vector<uint8_t> echoRequest(uint32_t handle, const std::vector<uint8_t>& input,
                                 uint32_t outputLength)
{
    return VornOSRPC::RpcMessage::call(handle, 0, input.data(), uint32_t(input.size()),
                                       outputLength, nullptr, 0);
}

} // namespace

class TestUsbStreaming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void systemPropertiesOverRpc_data();
    void systemPropertiesOverRpc();
    void megabyteEcho_data();
    void megabyteEcho();
    void wholePacketMessagesEndWithZeroLengthPacket_data();
    void wholePacketMessagesEndWithZeroLengthPacket();
    void controlReplyOfWholeChunkNeedsAnEmptyOne();
    void busyUnitIsWaitedFor_data();
    void busyUnitIsWaitedFor();
    void timeOutAppliesToOneRead();
    void invalidStates_data();
    void invalidStates();
    void endlessReplyIsCutOff_data();
    void endlessReplyIsCutOff();
    void claimedInterfaceIsRefused();
    void bulkPipeWithoutPacketSizeIsRefused();
    void waitReadyStartStopAndIdentity();

private:
    std::shared_ptr<USBStreaming2HostInterface> open(bool bulk,
                                                     Sim::NovaRecorder::Faults faults = {});
    std::unique_ptr<NovaBench> m_bench;
    std::shared_ptr<ManualClock> m_clock;
};

void TestUsbStreaming::cleanup()
{
    m_bench.reset();
}

std::shared_ptr<USBStreaming2HostInterface> TestUsbStreaming::open(bool bulk,
                                                                   Sim::NovaRecorder::Faults faults)
{
    m_bench.reset();
    Sim::NovaRecorder::Options options;
    options.bulkStreaming = bulk;
    auto recorder = std::make_shared<Sim::NovaRecorder>(options);
    recorder->setFaults(faults);
    m_bench = std::make_unique<NovaBench>(recorder);
    IUSBDevice* device = m_bench->device();
    if (!device)
        return nullptr;
    auto stream = std::make_shared<USBStreaming2HostInterface>(device);
    m_clock = std::make_shared<ManualClock>();
    stream->setClock(m_clock);
    return stream;
}

void TestUsbStreaming::systemPropertiesOverRpc_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::newRow("bulk") << true;
    QTest::newRow("control") << false;
}

void TestUsbStreaming::systemPropertiesOverRpc()
{
    QFETCH(bool, bulk);
    auto stream = open(bulk);
    QVERIFY(stream);
    QCOMPARE(stream->isBulkMode(), bulk);
    VornOSRPC::StreamingRpcDevice rpc(stream);
    const uint32_t handle = rpc.openService("SystemProperties", 500);
    QVERIFY(handle != VornOSRPC::RpcDevice::kInvalidHandle);

    const std::string key = "ReleaseVersion";
    std::vector<uint8_t> value(255, 0xCC);
    uint32_t found = 0;
    VornOSRPC::RpcBuffer buffers[2];
    buffers[0].input = true;
    buffers[0].data = reinterpret_cast<uint8_t*>(const_cast<char*>(key.data()));
    buffers[0].size = key.size();
    buffers[1].output = true;
    buffers[1].data = value.data();
    buffers[1].size = value.size();
    QCOMPARE(rpc.call(handle, 0, nullptr, 0, &found, sizeof found, buffers, 2), 0);
    QCOMPARE(found, 1u);
    QCOMPARE(std::string(reinterpret_cast<const char*>(value.data())), std::string("8.4"));
    QVERIFY(rpc.closeService(handle));
    QCOMPARE(m_bench->recorder().streaming().messagesHandled(), 3);
}

void TestUsbStreaming::megabyteEcho_data()
{
    systemPropertiesOverRpc_data();
}

void TestUsbStreaming::megabyteEcho()
{
    QFETCH(bool, bulk);
    auto stream = open(bulk);
    QVERIFY(stream);
    VornOSRPC::StreamingRpcDevice rpc(stream);
    const uint32_t handle = rpc.openService("Echo", 500);
    QVERIFY(handle != VornOSRPC::RpcDevice::kInvalidHandle);
    const std::vector<uint8_t> input = pattern(1u << 20);
    std::vector<uint8_t> output(input.size(), 0);
    QCOMPARE(rpc.call(handle, 0, input.data(), uint32_t(input.size()), output.data(),
                      uint32_t(output.size()), nullptr, 0),
             0);
    QVERIFY(output == input);
}

void TestUsbStreaming::wholePacketMessagesEndWithZeroLengthPacket_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("transfers");
    // Pieces of at most 512 packets of 512 bytes; a last piece of whole packets is followed
    // by a zero-length packet.
    QTest::newRow("one short packet") << 100 << QList<int>{100};
    QTest::newRow("one whole packet") << 512 << QList<int>{512, 0};
    QTest::newRow("two whole packets") << 1024 << QList<int>{1024, 0};
    QTest::newRow("a full piece") << 262144 << QList<int>{262144, 0};
    QTest::newRow("a piece and a bit") << 262145 << QList<int>{262144, 1};
    QTest::newRow("empty") << 0 << QList<int>{0};
}

void TestUsbStreaming::wholePacketMessagesEndWithZeroLengthPacket()
{
    QFETCH(int, size);
    QFETCH(QList<int>, transfers);
    auto stream = open(true);
    QVERIFY(stream);
    m_bench->clearLog();
    // Raw messages: the unit answers whatever arrives (nonsense gets its "malformed" reply).
    QVERIFY(stream->writeStream(pattern(size_t(size))));
    const auto log = m_bench->log();
    QVERIFY(!log.empty());
    QCOMPARE(log.front().kind, Sim::LogEntry::Control);
    QCOMPARE(log.front().setup.requestType, uint8_t(0x21));
    QCOMPARE(log.front().setup.request, uint8_t(0));
    QCOMPARE(log.front().setup.length, uint16_t(0));
    QList<int> seen;
    for (const auto& e : m_bench->bulkOut())
        seen << int(e.data.size());
    QCOMPARE(seen, transfers);
    // The unit took it as one message.
    std::vector<uint8_t> reply;
    QVERIFY(stream->readStream(reply));
    QCOMPARE(m_bench->recorder().streaming().messagesHandled(), 1);
}

void TestUsbStreaming::controlReplyOfWholeChunkNeedsAnEmptyOne()
{
    auto stream = open(false);
    QVERIFY(stream);
    VornOSRPC::StreamingRpcDevice rpc(stream);
    const uint32_t handle = rpc.openService("Echo", 500);
    // An 8-byte reply header and 2040 bytes of output: two whole chunks.
    const std::vector<uint8_t> input = pattern(2040);
    QVERIFY(stream->writeStream(echoRequest(handle, input, 2040)));
    m_bench->clearLog();
    std::vector<uint8_t> reply;
    QVERIFY(stream->readStream(reply));
    QCOMPARE(reply.size(), size_t(2048));
    QVERIFY(std::equal(input.begin(), input.end(), reply.begin() + 8));
    int chunks = 0;
    for (const auto& e : m_bench->classRequests(Sim::NovaRecorder::kStreamingInterface)) {
        if (e.setup.request == 3) {
            ++chunks;
            QCOMPARE(e.setup.value, uint16_t(1));
            QCOMPARE(e.setup.length, uint16_t(1026));
        }
    }
    QCOMPARE(chunks, 3);
}

void TestUsbStreaming::busyUnitIsWaitedFor_data()
{
    systemPropertiesOverRpc_data();
}

void TestUsbStreaming::busyUnitIsWaitedFor()
{
    QFETCH(bool, bulk);
    Sim::NovaRecorder::Faults faults;
    faults.streaming.busyPolls = 40;
    auto stream = open(bulk, faults);
    QVERIFY(stream);
    // Without a limit the wait lasts as long as the unit is busy.
    stream->setTimeout(0);
    QVERIFY(stream->writeStream(VornOSRPC::RpcMessage::exchangeWord(7)));
    std::vector<uint8_t> reply;
    QVERIFY(stream->readStream(reply));
    QCOMPARE(reply.size(), size_t(12));
    QVERIFY(m_clock->sleeps() >= 39);
}

void TestUsbStreaming::timeOutAppliesToOneRead()
{
    Sim::NovaRecorder::Faults faults;
    faults.streaming.neverReplies = true;
    auto stream = open(true, faults);
    QVERIFY(stream);
    QVERIFY(stream->writeStream(VornOSRPC::RpcMessage::exchangeWord(7)));
    stream->setTimeout(250);
    std::vector<uint8_t> reply;
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::RequestTimedOutException, stream->readStream(reply));
    const uint64_t first = m_clock->sleptMs();
    QVERIFY(first >= 250 && first < 300);
    // The next read has the default limit again.
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::RequestTimedOutException, stream->readStream(reply));
    QVERIFY(m_clock->sleptMs() - first >= USBStreaming2HostInterface::kDefaultReadTimeoutMs);
}

void TestUsbStreaming::invalidStates_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<int>("readyState");
    QTest::newRow("control mode, state 2") << false << 2;
    QTest::newRow("bulk mode, state 1") << true << 1;
    QTest::newRow("control mode, state 127") << false << 0x7F;
}

void TestUsbStreaming::invalidStates()
{
    QFETCH(bool, bulk);
    QFETCH(int, readyState);
    Sim::NovaRecorder::Faults faults;
    faults.streaming.readyState = uint8_t(readyState);
    auto stream = open(bulk, faults);
    QVERIFY(stream);
    QVERIFY(stream->writeStream(VornOSRPC::RpcMessage::exchangeWord(7)));
    std::vector<uint8_t> reply;
    try {
        stream->readStream(reply);
        QFAIL("read in an invalid state");
    } catch (const VornOSRPC::Exception& e) {
        QCOMPARE(e.what(), "invalid state");
    }
}

void TestUsbStreaming::endlessReplyIsCutOff_data()
{
    systemPropertiesOverRpc_data();
}

void TestUsbStreaming::endlessReplyIsCutOff()
{
    QFETCH(bool, bulk);
    Sim::NovaRecorder::Faults faults;
    faults.streaming.endlessReply = true;
    auto stream = open(bulk, faults);
    QVERIFY(stream);
    stream->setMaxReplySize(1u << 20);
    QVERIFY(stream->writeStream(VornOSRPC::RpcMessage::exchangeWord(7)));
    std::vector<uint8_t> reply;
    try {
        stream->readStream(reply);
        QFAIL("an endless reply was taken");
    } catch (const VornOSRPC::Exception& e) {
        QCOMPARE(e.what(), "Reply too large");
    }
    QVERIFY(reply.capacity() <= (2u << 20));
}

void TestUsbStreaming::claimedInterfaceIsRefused()
{
    auto stream = open(true);
    QVERIFY(stream);
    // A second holder of the same unit (another handle on the device) finds it taken.
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    QCOMPARE(int(collector.arrivals.size()), 1);
    try {
        USBStreaming2HostInterface second(collector.arrivals[0]);
        QFAIL("the interface was claimed twice");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Usb interface is already in use");
    }
    CVNUsb_UnregisterDeviceNotifications(r);
    collector.clear();
    // Given up when the first goes.
    stream.reset();
    NotificationRegistration* again = registerCollector(&collector);
    QVERIFY(std::make_unique<USBStreaming2HostInterface>(collector.arrivals.at(0)));
    CVNUsb_UnregisterDeviceNotifications(again);
}

void TestUsbStreaming::bulkPipeWithoutPacketSizeIsRefused()
{
    // Whole packets of 0 bytes cannot be counted: the unit is not taken.
    m_bench.reset();
    Sim::NovaRecorder::Options options;
    options.bulkPacketSize = 0;
    m_bench = std::make_unique<NovaBench>(options);
    IUSBDevice* device = m_bench->device();
    QVERIFY(device);
    try {
        USBStreaming2HostInterface stream(device);
        QFAIL("a bulk pipe without a packet size was taken");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Failed to get properties of usb pipe with index 1");
    }
    // The claim was given up again: another holder of the unit gets as far.
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    QCOMPARE(int(collector.arrivals.size()), 1);
    try {
        USBStreaming2HostInterface stream(collector.arrivals[0]);
        QFAIL("a bulk pipe without a packet size was taken");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Failed to get properties of usb pipe with index 1");
    }
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestUsbStreaming::waitReadyStartStopAndIdentity()
{
    auto stream = open(true);
    QVERIFY(stream);
    QVERIFY(stream->waitReady(0));
    QVERIFY(stream->waitReady(100));
    QVERIFY(stream->start());
    QVERIFY(stream->stop());
    QCOMPARE(stream->productId(), uint16_t(0xBE1D));
    QCOMPARE(stream->vendorId(), uint16_t(0x2C4A));
    QCOMPARE(stream->identifier(), std::wstring(L"NV1234ABCD"));
    // A unit that does not answer the state request.
    Sim::Faults faults;
    faults.stallRequest = 1;
    m_bench->setBusFaults(faults);
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::Exception, stream->waitReady(0));
}

QTEST_GUILESS_MAIN(TestUsbStreaming)
#include "tst_usbstreaming.moc"
