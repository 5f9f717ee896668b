#include "xmegatestsupport.h"

#include "platform/bytereader.h"
#include "usb/rpc/rpcexception.h"
#include "usb/rpc/rpcserviceregistry.h"
#include "usb/rpc/streamingrpcdevice.h"
#include "usb/xmega/streamingxmegausbdevice.h"

#include <QtTest>

#include <thread>

using VornOSRPC::RpcBuffer;
using VornOSRPC::StreamingRpcDevice;

namespace {

// An RPC device over the streaming link of one simulated unit with the "Echo" service.
struct Rpc
{
    explicit Rpc(std::shared_ptr<Sim::XmegaUnit> unit = makeUnit())
        : bench(std::move(unit))
    {
        bench.unit().rpc().addService("Echo", Sim::XmegaRpcServer::echoService());
        stream = StreamingXmegaUSBDevice::create(bench.device());
        if (stream) {
            stream->setClock(clock);
            device = std::make_shared<StreamingRpcDevice>(stream);
            device->setClock(clock);
        }
        bench.clearLog();
    }

    Sim::XmegaRpcServer& server() { return bench.unit().rpc(); }

    XmegaBench bench;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<StreamingXmegaUSBDevice> stream;
    std::shared_ptr<StreamingRpcDevice> device;
};

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i * 13 + (i >> 9));
    return bytes;
}

// One input buffer and one output buffer, in that order.
struct InOut
{
    RpcBuffer buffers[2];
    InOut(uint8_t* in, size_t inSize, uint8_t* out, size_t outSize)
    {
        buffers[0].input = true;
        buffers[0].data = in;
        buffers[0].size = inSize;
        buffers[1].output = true;
        buffers[1].data = out;
        buffers[1].size = outSize;
    }
};

template<typename E, typename F> QString thrown(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class TestRpc : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void openCallAndClose();
    void largeCallOverALinkThatStalls_data();
    void largeCallOverALinkThatStalls();
    void callRequestLayout();
    void replyTooShortForTheOutputs();
    void resultsComeBackSigned();
    void refusedOpen();
    void serviceNameLength();
    void replyShorterThanItsHeader();
    void exchangeWord();
    void transportFailures();
    void failedWriteGivesBackTheNormalReadLimit();
    void incompatibleUnit();
    void requestsOfTwoDevicesDoNotInterleave();
    void registry();
};

void TestRpc::openCallAndClose()
{
    Rpc rpc;
    QVERIFY(rpc.device);
    QVERIFY(rpc.device->isReady());
    QVERIFY(rpc.device->start());
    const uint32_t handle = rpc.device->openService("Echo", 500);
    QVERIFY(handle != StreamingRpcDevice::kInvalidHandle);
    QCOMPARE(rpc.server().openHandles().at(handle), std::string("Echo"));

    const char input[] = "abc";
    char output[5] = {'x', 'x', 'x', 'x', 'x'};
    QCOMPARE(rpc.device->call(handle, 0, input, 3, output, 5, nullptr, 0), 0);
    QCOMPARE(QByteArray(output, 5), QByteArray("abc\0\0", 5));
    QVERIFY(rpc.device->closeService(handle));
    QVERIFY(rpc.server().openHandles().empty());
    QVERIFY(!rpc.device->closeService(handle));
    QCOMPARE(rpc.device->productId(), uint16_t(0xC3E4));
    QCOMPARE(rpc.device->vendorId(), uint16_t(0x2C4A));
}

void TestRpc::largeCallOverALinkThatStalls_data()
{
    QTest::addColumn<uint32_t>("inputSize");
    QTest::addColumn<uint32_t>("outputSize");
    QTest::addColumn<int>("stallEvery");
    QTest::newRow("256 KiB in all, every 5th chunk stalls") << 131072u << 131072u << 5;
    QTest::newRow("256 KiB each way, every 7th chunk stalls") << 262144u << 262144u << 7;
    QTest::newRow("256 KiB each way, no stalls") << 262144u << 262144u << 0;
}

void TestRpc::largeCallOverALinkThatStalls()
{
    QFETCH(uint32_t, inputSize);
    QFETCH(uint32_t, outputSize);
    QFETCH(int, stallEvery);
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 500);
    QVERIFY(handle != StreamingRpcDevice::kInvalidHandle);
    Sim::XmegaFaults faults;
    faults.stallEvery = stallEvery;
    rpc.bench.unit().setFaults(faults);

    auto in = pattern(inputSize, 1);
    std::vector<uint8_t> out(outputSize, 0);
    InOut io(in.data(), in.size(), out.data(), out.size());
    RpcBuffer* buffers = io.buffers;
    QCOMPARE(rpc.device->call(handle, 0, nullptr, 0, nullptr, 0, buffers, 2), 0);
    for (size_t i = 0; i < out.size(); ++i)
        if (out[i] != uint8_t(in[i % in.size()] ^ 0x5A))
            QFAIL(qPrintable(QString("output differs at %1").arg(i)));
    QVERIFY(stallEvery == 0 || rpc.bench.unit().stalls() > 0);
    QCOMPARE(rpc.server().calls().back().inputBuffers.at(0), in);
}

void TestRpc::callRequestLayout()
{
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 0);
    uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    uint8_t four[4] = {};
    InOut io(six, 6, four, 4);
    RpcBuffer* buffers = io.buffers;
    QCOMPARE(rpc.device->call(handle, 7, "xyz", 3, nullptr, 0, buffers, 2), 1);
    const auto request = rpc.server().lastRequest();
    QCOMPARE(int(request.size()), 45);
    Platform::ByteReader r(request.data(), request.size());
    uint32_t v = 0;
    QVERIFY(r.u32(0, &v) && v == 45);
    QVERIFY(r.u32(4, &v) && v == 2);
    QVERIFY(r.u32(8, &v) && v == handle);
    QVERIFY(r.u32(12, &v) && v == 7);
    QVERIFY(r.u32(16, &v) && v == 3);
    QVERIFY(r.u32(20, &v) && v == 0);
    QVERIFY(r.u32(24, &v) && v == 2);
    QVERIFY(r.u32(28, &v) && v == 0x80000006);
    QVERIFY(r.u32(32, &v) && v == 0x40000004);
    QCOMPARE(std::vector<uint8_t>(request.begin() + 36, request.end()),
             (std::vector<uint8_t>{'x', 'y', 'z', 1, 2, 3, 4, 5, 6}));
}

void TestRpc::replyTooShortForTheOutputs()
{
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 0);
    uint8_t in[4] = {9, 9, 9, 9};
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    uint8_t output[2] = {0xEE, 0xEE};
    InOut io(in, 4, out, 4);
    RpcBuffer* buffers = io.buffers;
    QCOMPARE(rpc.device->call(handle, 1, "ab", 2, output, 2, buffers, 2),
             StreamingRpcDevice::kShortReply);
    QCOMPARE(out[0], uint8_t(0xEE));
    QCOMPARE(out[3], uint8_t(0xEE));
    QCOMPARE(output[0], uint8_t(0xEE));
}

void TestRpc::resultsComeBackSigned()
{
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 0);
    const int32_t code = -3;
    uint8_t output[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    QCOMPARE(rpc.device->call(handle, 2, &code, 4, output, 4, nullptr, 0), -3);
    QCOMPARE(output[0], uint8_t(0xEE));
}

void TestRpc::refusedOpen()
{
    Rpc rpc;
    rpc.server().addService("Version", Sim::XmegaRpcServer::echoService());
    rpc.server().setOpenResult("Version", 5);
    QCOMPARE(rpc.device->openService("Version", 0), StreamingRpcDevice::kInvalidHandle);
    QCOMPARE(int(rpc.bench.requests(Sim::XmegaUnit::StreamReset).size()), 1);
    QCOMPARE(rpc.clock->sleptMs(), uint64_t(0));

    rpc.bench.clearLog();
    QCOMPARE(thrown<VornOSRPC::RpcRequestTimedOutException>(
                 [&] { rpc.device->openService("Version", 1000); }),
             QString("Request timed out"));
    const int attempts = int(rpc.bench.requests(Sim::XmegaUnit::StreamReset).size());
    QVERIFY2(attempts >= 10 && attempts <= 12, qPrintable(QString::number(attempts)));
    QVERIFY(rpc.clock->sleptMs() >= 1000);

    // A unit that starts answering within the time-out is taken.
    rpc.server().setOpenResult("Version", 0);
    QVERIFY(rpc.device->openService("Version", 1000) != StreamingRpcDevice::kInvalidHandle);
    QCOMPARE(rpc.device->openService("Missing", 0), StreamingRpcDevice::kInvalidHandle);
}

void TestRpc::serviceNameLength()
{
    Rpc rpc;
    const std::string longest(255, 'n');
    rpc.server().addService(longest, Sim::XmegaRpcServer::echoService());
    QVERIFY(rpc.device->openService(longest, 0) != StreamingRpcDevice::kInvalidHandle);
    rpc.bench.clearLog();
    // One more byte cannot be described by the length byte: refused without asking.
    QCOMPARE(rpc.device->openService(longest + "n", 0), StreamingRpcDevice::kInvalidHandle);
    QVERIFY(rpc.bench.log().empty());
}

void TestRpc::replyShorterThanItsHeader()
{
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 0);
    rpc.bench.unit().setNextRawReply({4, 0, 0, 0});
    QCOMPARE(thrown<VornOSRPC::RpcException>(
                 [&] { rpc.device->call(handle, 0, nullptr, 0, nullptr, 0, nullptr, 0); }),
             QString("Failed to read from device"));
    rpc.bench.unit().setNextRawReply({});
    QCOMPARE(thrown<VornOSRPC::RpcException>([&] { rpc.device->exchangeWord(1); }),
             QString("Failed to read from device"));
    // The link is fine afterwards.
    QCOMPARE(rpc.device->exchangeWord(1), 0xFFFFFFFEu);
}

void TestRpc::exchangeWord()
{
    Rpc rpc;
    QCOMPARE(rpc.device->exchangeWord(0x12345678), ~0x12345678u);
    Sim::XmegaFaults faults;
    faults.rpcNeverReplies = true;
    rpc.bench.unit().setFaults(faults);
    QCOMPARE(rpc.device->exchangeWord(5), 0xFFFFFFFFu);
}

void TestRpc::transportFailures()
{
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 0);
    Sim::XmegaFaults faults;
    faults.rpcNeverReplies = true;
    rpc.bench.unit().setFaults(faults);
    rpc.device->setTimeout(100);
    QCOMPARE(thrown<VornOSRPC::RpcRequestTimedOutException>(
                 [&] { rpc.device->call(handle, 0, nullptr, 0, nullptr, 0, nullptr, 0); }),
             QString("Request timed out"));
    QVERIFY(!rpc.device->closeService(handle));

    faults = Sim::XmegaFaults();
    faults.stallEvery = 1;
    rpc.bench.unit().setFaults(faults);
    QCOMPARE(thrown<VornOSRPC::RpcException>([&] { rpc.device->openService("Echo", 1000); }),
             QString("Failed to write to device"));

    faults = Sim::XmegaFaults();
    faults.noReplyTo = Sim::XmegaUnit::StreamBufferStatus;
    rpc.bench.unit().setFaults(faults);
    rpc.stream->setRequestTimeout(20);
    QCOMPARE(thrown<VornOSRPC::RpcException>([&] { rpc.device->exchangeWord(1); }),
             QString("USB Request IFACE_VR_STREAM_BUFFER_STATUS failed with "
                     "kCVNUsbTransactionTimeout"));

    // A buffer too large for its word is refused before anything is sent.
    rpc.bench.clearLog();
    uint8_t byte = 0;
    RpcBuffer huge;
    huge.output = true;
    huge.data = &byte;
    huge.size = 0x10000000;
    QCOMPARE(thrown<VornOSRPC::RpcException>(
                 [&] { rpc.device->call(handle, 0, nullptr, 0, nullptr, 0, &huge, 1); }),
             QString("Request too large"));
    QVERIFY(rpc.bench.log().empty());
}

void TestRpc::failedWriteGivesBackTheNormalReadLimit()
{
    Rpc rpc;
    const uint32_t handle = rpc.device->openService("Echo", 0);
    Sim::XmegaFaults faults;
    faults.stallEvery = 1;
    rpc.bench.unit().setFaults(faults);
    // Its short read limit is set before the write, which fails: no read follows.
    QCOMPARE(thrown<VornOSRPC::RpcException>([&] { rpc.device->exchangeWord(1); }),
             QString("Failed to write to device"));

    faults = Sim::XmegaFaults();
    faults.rpcNeverReplies = true;
    rpc.bench.unit().setFaults(faults);
    const uint64_t before = rpc.clock->sleptMs();
    QCOMPARE(thrown<VornOSRPC::RpcRequestTimedOutException>(
                 [&] { rpc.device->call(handle, 0, nullptr, 0, nullptr, 0, nullptr, 0); }),
             QString("Request timed out"));
    QVERIFY(rpc.clock->sleptMs() - before >= StreamingXmegaUSBDevice::kDefaultReadTimeoutMs);
}

void TestRpc::incompatibleUnit()
{
    Sim::XmegaUnit::Options options;
    options.protocolVersion = 0x0200;
    Rpc rpc(std::make_shared<Sim::XmegaUnit>(options));
    QVERIFY(rpc.device);
    const QString text("Protocol version incompatible");
    using Incompatible = VornOSRPC::RpcRequestIncompatibleException;
    QCOMPARE(thrown<Incompatible>([&] { rpc.device->start(); }), text);
    QCOMPARE(thrown<Incompatible>([&] { rpc.device->stop(); }), text);
    QCOMPARE(thrown<Incompatible>([&] { rpc.device->isReady(); }), text);
    QCOMPARE(thrown<Incompatible>([&] { rpc.device->openService("Echo", 0); }), text);
    QCOMPARE(thrown<Incompatible>([&] { rpc.device->exchangeWord(0); }), text);
}

void TestRpc::requestsOfTwoDevicesDoNotInterleave()
{
    // Two units on one bus, each with its own link, called from two threads at once.
    Sim::XmegaUnit::Options second;
    second.productId = 0xBE0F;
    second.uniqueId[15] = 0x99;
    auto unitA = makeUnit();
    auto unitB = std::make_shared<Sim::XmegaUnit>(second);
    std::shared_ptr<StreamingRpcDevice> devices[2];
    {
        unitA->rpc().addService("Echo", Sim::XmegaRpcServer::echoService());
        unitB->rpc().addService("Echo", Sim::XmegaRpcServer::echoService());
        Sim::UsbBus::instance().plug(unitA);
        Sim::UsbBus::instance().plug(unitB);
    }
    struct Collector
    {
        std::vector<CVN::USB::IUSBDevice*> all;
        static uint32_t arrived(CVN::USB::IUSBDevice* d, void* c)
        {
            d->AddRef();
            static_cast<Collector*>(c)->all.push_back(d);
            return 0;
        }
        static uint32_t removed(CVN::USB::IUSBDevice*, void*) { return 0; }
    } collector;
    auto* registration = CVN::USB::CVNUsb_RegisterDeviceNotifications(
        &Collector::arrived, &collector, &Collector::removed, &collector, nullptr, 0, nullptr, 0,
        nullptr, 0);
    QCOMPARE(int(collector.all.size()), 2);
    for (int i = 0; i < 2; ++i) {
        auto stream = StreamingXmegaUSBDevice::create(collector.all[i]);
        QVERIFY(stream);
        devices[i] = std::make_shared<StreamingRpcDevice>(stream);
    }
    CVN::USB::CVNUsb_UnregisterDeviceNotifications(registration);
    for (auto* d : collector.all)
        d->Release();

    std::atomic<int> wrong{0};
    auto work = [&](int which) {
        const uint32_t handle = devices[which]->openService("Echo", 500);
        for (int i = 0; i < 20; ++i) {
            const uint32_t value = uint32_t(which << 16 | i);
            uint32_t back = 0;
            if (devices[which]->call(handle, 0, &value, 4, &back, 4, nullptr, 0) != 0 ||
                back != value)
                ++wrong;
        }
        devices[which]->closeService(handle);
    };
    std::thread a(work, 0);
    std::thread b(work, 1);
    a.join();
    b.join();
    QCOMPARE(wrong.load(), 0);
    QVERIFY(devices[0]->productId() != devices[1]->productId());
    Sim::UsbBus::instance().reset();
}

void TestRpc::registry()
{
    Rpc rpc;
    const uint32_t first = rpc.device->openService("Echo", 0);
    const uint32_t second = rpc.device->openService("Echo", 0);
    VornOSRPC::RpcServiceRegistry registry;
    std::shared_ptr<VornOSRPC::RpcDevice> device = rpc.device;
    VornOSRPC::rpcServiceRegistryInsert(registry, first, device);
    VornOSRPC::rpcServiceRegistryInsert(registry, first, device);
    VornOSRPC::rpcServiceRegistryInsert(registry, second, device);
    QCOMPARE(int(registry.count(first, device.get())), 2);
    VornOSRPC::rpcServiceRegistryRemove(registry, first, device.get());
    QCOMPARE(int(registry.count(first, device.get())), 0);
    QCOMPARE(int(rpc.server().openHandles().size()), 2);
    registry.closeAll();
    QCOMPARE(int(registry.count(second, device.get())), 0);
    // The registry closed what it held; the removed handle stays the client's business.
    QCOMPARE(int(rpc.server().openHandles().size()), 1);
    QVERIFY(rpc.server().openHandles().count(first));

    {
        VornOSRPC::RpcServiceRegistry ending;
        ending.insert(first, device);
    }
    QVERIFY(rpc.server().openHandles().empty());
}

QTEST_GUILESS_MAIN(TestRpc)
#include "tst_rpc.moc"
