#include "plugins/recorder/connectionprobe.h"
#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/kestreltransportclient.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"
#include "plugins/recorder/versionclient.h"
#include "sim/recorder/streamingrecorder.h"
#include "tests/usb/xmegatestsupport.h"
#include "usb/xmega/qtxmegausbregistry.h"
#include "usb/rpc/rpcserviceregistry.h"
#include "usb/rpc/streamingrpcdevice.h"
#include "usb/rpc/vornosrpcexception.h"

#include <QtTest>

#include <system_error>

using namespace CVN::DiskRecorder;

namespace {

using Model = Sim::StreamingRecorder;

// One simulated streaming recorder on the bus, registered under its unique id as the
// notifier would, with the recorder device over it. Waits only move a manual clock.
struct StreamingBench
{
    explicit StreamingBench(Sim::XmegaUnit::Options options = Model::defaultOptions())
        : model(std::make_shared<Model>(options))
        , bench(model)
        , registry(QtXmegaUSBRegistry<StreamingXmegaUSBDevice>::create())
        , id(DeviceId::fromBytes(options.uniqueId.data()))
    {
        usb = StreamingXmegaUSBDevice::create(bench.device());
        if (!usb)
            return;
        usb->setClock(clock);
        registry->arrived(id, usb);
        device = new KestrelXmegaStreamingUSBDevice(
            KestrelXmegaStreamingUSBDevice::Handle(registry, id, usb));
        device->setClock(clock);
    }
    ~StreamingBench()
    {
        if (device)
            device->release();
    }

    std::shared_ptr<VornOSRPC::StreamingRpcDevice> rpc() const
    {
        auto rpc = std::make_shared<VornOSRPC::StreamingRpcDevice>(usb);
        rpc->setClock(clock);
        return rpc;
    }
    int callsOf(const std::string& service) const
    {
        int n = 0;
        for (const auto& call : model->serviceCalls())
            n += call.first == service;
        return n;
    }

    std::shared_ptr<Model> model;
    XmegaBench bench;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<QtXmegaUSBRegistry<StreamingXmegaUSBDevice>> registry;
    DeviceId id;
    std::shared_ptr<StreamingXmegaUSBDevice> usb;
    KestrelXmegaStreamingUSBDevice* device = nullptr;
};

Sim::XmegaUnit::Options withProtocol(uint16_t version)
{
    Sim::XmegaUnit::Options options = Model::defaultOptions();
    options.protocolVersion = version;
    return options;
}

} // namespace

class StreamingRecorderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void codecReadsAsItsIndex_data();
    void codecReadsAsItsIndex();
    void everyCodecSurvivesWriteAndReadBack();
    void codecOutsideTheTableIsNotWritten();
    void refusedOrFailingServiceReadsAsFailure_data();
    void refusedOrFailingServiceReadsAsFailure();
    void versionsAreCachedUntilProgrammed();
    void versionTextIsCutAtItsBuffer();
    void firmwareCurrent_data();
    void firmwareCurrent();
    void clockGoesToTheRtcService();
    void incompatibleProtocolReachesOnlyIsConnected();
    void readyUnitIsConnected();
    void networkValuesAreRestoredOnlyWhenSaved();
    void clientOpensOncePerDevice();
    void refusedOpenIsNeverRegistered_data();
    void refusedOpenIsNeverRegistered();
    void callStatusIsASystemError();
    void codecNameFillingItsBuffer();
    void ordinaryTrafficWaitsForTheUnitsBuffer();
    void retriedMessageIsTakenOnce();
    void chunkWithoutTransactionIdIsRefused();
};

void StreamingRecorderTest::codecReadsAsItsIndex_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("container");
    QTest::addColumn<uint32_t>("index");
    QTest::newRow("DNx:HD145 MXF") << "DNx:HD145" << 3 << 7u;
    QTest::newRow("DNx:HD145 QT") << "DNx:HD145" << 2 << 6u;
    QTest::newRow("ProRes:HQ") << "ProRes:HQ" << 2 << 0u;
    QTest::newRow("H264:Low") << "H264:Low" << 1 << 18u;
    QTest::newRow("container that does not go with it") << "ProRes:HQ" << 3 << 19u;
    QTest::newRow("unknown name") << "Cineform:Film" << 2 << 19u;
}

void StreamingRecorderTest::codecReadsAsItsIndex()
{
    QFETCH(QString, name);
    QFETCH(int, container);
    QFETCH(uint32_t, index);
    StreamingBench bench;
    QVERIFY(bench.device);
    bench.model->setTransport({name.toStdString(), uint8_t(container), 2});
    KestrelSettings settings;
    QVERIFY(bench.device->readSettings(settings));
    QCOMPARE(settings.codecIndex, index);
    QCOMPARE(settings.trigger, 2u);
    QCOMPARE(KestrelXmegaStreamingUSBDevice::codecIndex(name.toStdString(), uint8_t(container)),
             index);
}

void StreamingRecorderTest::everyCodecSurvivesWriteAndReadBack()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    for (uint32_t index = 0; index < KestrelXmegaStreamingUSBDevice::kCodecCount; ++index) {
        KestrelSettings written;
        written.codecIndex = index;
        written.trigger = index % 3;
        QVERIFY(bench.device->writeSettings(written));
        const KestrelXmegaStreamingUSBDevice::Codec& row =
            KestrelXmegaStreamingUSBDevice::codec(index);
        QCOMPARE(bench.model->transport().codecName, std::string(row.name));
        QCOMPARE(bench.model->transport().container, row.container);
        KestrelSettings read;
        QVERIFY(bench.device->readSettings(read));
        QCOMPARE(read.codecIndex, index);
        QCOMPARE(read.trigger, written.trigger);
    }
    // 4 and 5 share a name and differ by container.
    QCOMPARE(std::string(KestrelXmegaStreamingUSBDevice::codec(4).name),
             std::string(KestrelXmegaStreamingUSBDevice::codec(5).name));
}

void StreamingRecorderTest::codecOutsideTheTableIsNotWritten()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    KestrelSettings settings;
    settings.codecIndex = KestrelXmegaStreamingUSBDevice::kCodecCount;
    QVERIFY(!bench.device->writeSettings(settings));
    QVERIFY(bench.model->serviceCalls().empty());
    QVERIFY(bench.model->rpc().openHandles().empty());
}

void StreamingRecorderTest::refusedOrFailingServiceReadsAsFailure_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<int>("method"); // -1: the service refuses to open
    QTest::addColumn<QString>("operation");
    QTest::newRow("transport refused") << "KestrelTransport" << -1 << "read";
    QTest::newRow("trigger read fails") << "KestrelTransport" << 1011 << "read";
    QTest::newRow("codec select fails") << "KestrelTransport" << 104 << "write";
    QTest::newRow("trigger write fails") << "KestrelTransport" << 1010 << "write";
    QTest::newRow("RTC refused") << "RTC" << -1 << "clock";
    QTest::newRow("RTC fails") << "RTC" << 0 << "clock";
    QTest::newRow("Version refused") << "Version" << -1 << "version";
    QTest::newRow("FPGA version fails") << "Version" << 10 << "version";
}

void StreamingRecorderTest::refusedOrFailingServiceReadsAsFailure()
{
    QFETCH(QString, service);
    QFETCH(int, method);
    QFETCH(QString, operation);
    StreamingBench bench;
    QVERIFY(bench.device);
    if (method < 0)
        bench.model->refuseService(service.toStdString());
    else
        bench.model->failCall(service.toStdString(), uint32_t(method), 22);
    bool ok = true;
    if (operation == "read") {
        KestrelSettings settings;
        ok = bench.device->readSettings(settings);
    } else if (operation == "write") {
        KestrelSettings settings;
        settings.codecIndex = 3;
        ok = bench.device->writeSettings(settings);
    } else if (operation == "clock") {
        ok = bench.device->setClock(77);
    } else {
        std::string version;
        ok = bench.device->getSoftwareVersion(version);
        QCOMPARE(bench.device->fpgaVersion(), 0u);
    }
    QVERIFY(!ok);
    // Nothing stays open on the unit.
    QVERIFY(bench.model->rpc().openHandles().empty());
}

void StreamingRecorderTest::versionsAreCachedUntilProgrammed()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    bench.model->setVersions("5.1.7", 0x01020304, 0x21);
    QCOMPARE(bench.device->cpuChecksum(), 0u); // not read by itself
    QCOMPARE(bench.device->fpgaVersion(), 0x21u);
    QCOMPARE(bench.device->cpuChecksum(), 0x01020304u);
    std::string text;
    QVERIFY(bench.device->getSoftwareVersion(text));
    QCOMPARE(text, std::string("5.1.7"));
    const int calls = bench.callsOf("Version");
    QCOMPARE(calls, 3);

    bench.model->setVersions("5.2.0", 0x05060708, 0x22);
    QCOMPARE(bench.device->fpgaVersion(), 0x21u);
    QCOMPARE(bench.callsOf("Version"), calls);

    // Programming, even when it fails, makes the next query ask again.
    QVERIFY(!bench.device->program(ProgramType(7), 0, 0, nullptr, 0, nullptr, nullptr));
    QCOMPARE(bench.device->fpgaVersion(), 0x22u);
    QCOMPARE(bench.device->cpuChecksum(), 0x05060708u);
}

void StreamingRecorderTest::versionTextIsCutAtItsBuffer()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    // The unit fills all ten bytes: no zero byte ends the text.
    bench.model->setVersions("10.22.333-beta", 1, 1);
    std::string text;
    QVERIFY(bench.device->getSoftwareVersion(text));
    QCOMPARE(text, std::string("10.22.333-"));
}

void StreamingRecorderTest::firmwareCurrent_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<uint32_t>("cpu");
    QTest::addColumn<int>("fpga");
    QTest::addColumn<uint32_t>("first");
    QTest::addColumn<uint32_t>("second");
    QTest::addColumn<bool>("current");
    QTest::addColumn<bool>("type3");
    const uint32_t ok = KestrelXmegaStreamingUSBDevice::kExpectedXmegaChecksum;
    QTest::newRow("current") << 0xC3E4 << 0x1633975Au << 0x11 << ok << ok << true << false;
    QTest::newRow("current 0xBE0F") << 0xBE0F << 0x1633975Au << 0x11 << ok << ok << true << false;
    QTest::newRow("old cpu") << 0xC3E4 << 0x1633975Bu << 0x11 << ok << ok << false << false;
    QTest::newRow("old FPGA") << 0xC3E4 << 0x1633975Au << 0x10 << ok << ok << false << false;
    QTest::newRow("first checksum") << 0xC3E4 << 0x1633975Au << 0x11 << 1u << ok << false << true;
    QTest::newRow("second checksum") << 0xC3E4 << 0x1633975Au << 0x11 << ok << 1u << false << true;
    QTest::newRow("other product") << 0xC3A6 << 0x1633975Au << 0x11 << ok << ok << false << false;
}

void StreamingRecorderTest::firmwareCurrent()
{
    QFETCH(int, productId);
    QFETCH(uint32_t, cpu);
    QFETCH(int, fpga);
    QFETCH(uint32_t, first);
    QFETCH(uint32_t, second);
    QFETCH(bool, current);
    QFETCH(bool, type3);
    Sim::XmegaUnit::Options options = Model::defaultOptions();
    options.productId = uint16_t(productId);
    StreamingBench bench(options);
    QVERIFY(bench.device);
    bench.model->setVersions("1.0", cpu, uint8_t(fpga));
    bench.model->setChecksums(first, second);
    QCOMPARE(bench.device->isFirmwareCurrent(), current);
    QCOMPARE(bench.device->shouldProgramType3(), type3);
}

void StreamingRecorderTest::clockGoesToTheRtcService()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    QVERIFY(bench.device->setClock(0x6543210F));
    QCOMPARE(bench.model->clock(), std::make_pair(0x6543210Fu, 0u));
    QVERIFY(bench.model->rpc().openHandles().empty());
}

void StreamingRecorderTest::incompatibleProtocolReachesOnlyIsConnected()
{
    StreamingBench bench(withProtocol(0x0100));
    QVERIFY(bench.device);
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException,
                             bench.device->isConnected());
    // Where nothing may be thrown, the unit reads as not connected and incompatible.
    QCOMPARE(ConnectionProbe::probe(*bench.device), ConnectionProbe::Incompatible);
    QVERIFY(!ConnectionProbe::isConnected(*bench.device));
    // Everything else fails quietly, so such a unit is offered new firmware.
    QVERIFY(!bench.device->isFirmwareCurrent());
    KestrelSettings settings;
    QVERIFY(!bench.device->readSettings(settings));
    QVERIFY(!bench.device->setClock(1));
    uint16_t pid = 0;
    QVERIFY(bench.device->getProductId(pid));
    QCOMPARE(pid, uint16_t(0xC3E4));
}

void StreamingRecorderTest::readyUnitIsConnected()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    QVERIFY(bench.device->isConnected());
    QCOMPARE(ConnectionProbe::probe(*bench.device), ConnectionProbe::Connected);
    bench.model->setReady(false);
    QVERIFY(!bench.device->isConnected());
    QCOMPARE(ConnectionProbe::probe(*bench.device), ConnectionProbe::NotConnected);
}

void StreamingRecorderTest::networkValuesAreRestoredOnlyWhenSaved()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    const Model::Network saved{0, 0x0A000002, 0xFF000000, 0x0A000001};
    bench.model->setNetwork(saved);
    // Nothing saved, nothing written.
    QVERIFY(bench.device->rebootAfterUpdate());
    QCOMPARE(bench.callsOf("NetConfig"), 0);

    QVERIFY(bench.device->prepareForUpdate());
    QCOMPARE(bench.callsOf("SettingsFinch"), 4);
    bench.model->setNetwork(Model::Network());
    QVERIFY(bench.device->rebootAfterUpdate());
    QVERIFY(bench.model->network() == saved);

    // A refused network service does not fail the update.
    bench.model->setNetwork(Model::Network());
    bench.model->refuseService("NetConfig");
    QVERIFY(bench.device->rebootAfterUpdate());
    QVERIFY(bench.model->network() == Model::Network());
}

void StreamingRecorderTest::clientOpensOncePerDevice()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    auto first = bench.rpc();
    auto second = bench.rpc();
    {
        VersionClient version;
        version.open(first, 1000);
        const uint32_t handle = version.handle();
        version.open(first, 1000);
        QCOMPARE(version.handle(), handle);
        QCOMPARE(bench.model->rpc().openHandles().size(), size_t(1));
        QCOMPARE(VornOSRPC::rpcServiceRegistry().count(handle, first.get()), size_t(1));

        // On another device the first handle is closed before the new one is opened.
        version.open(second, 1000);
        QCOMPARE(bench.model->rpc().openHandles().size(), size_t(1));
        QCOMPARE(VornOSRPC::rpcServiceRegistry().count(handle, first.get()), size_t(0));
        QCOMPARE(VornOSRPC::rpcServiceRegistry().count(version.handle(), second.get()), size_t(1));
        QVERIFY(version.handle() != handle);
        QCOMPARE(version.fpgaVersion(), 0x11u);
    }
    QVERIFY(bench.model->rpc().openHandles().empty());
}

void StreamingRecorderTest::refusedOpenIsNeverRegistered_data()
{
    QTest::addColumn<uint32_t>("timeoutMs");
    QTest::newRow("asked once") << 0u;
    QTest::newRow("asked until the time is up") << 1000u;
}

void StreamingRecorderTest::refusedOpenIsNeverRegistered()
{
    QFETCH(uint32_t, timeoutMs);
    StreamingBench bench;
    QVERIFY(bench.device);
    bench.model->refuseService("Version");
    auto rpc = bench.rpc();
    VersionClient version;
    try {
        version.open(rpc, timeoutMs);
        QFAIL("opened");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString(e.what()), QString("Could not open service: Version"));
    }
    QCOMPARE(version.handle(), RpcServiceClient::kNoHandle);
    QCOMPARE(VornOSRPC::rpcServiceRegistry().count(RpcServiceClient::kNoHandle, rpc.get()),
             size_t(0));
}

void StreamingRecorderTest::callStatusIsASystemError()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    bench.model->failCall("KestrelTransport", KestrelTransportClient::kTrigger, 22);
    KestrelTransportClient transport;
    transport.open(bench.rpc(), 1000);
    const uint32_t handle = transport.handle();
    try {
        transport.trigger();
        QFAIL("no error");
    } catch (const std::system_error& e) {
        QCOMPARE(e.code().value(), 22);
        QCOMPARE(e.code().category(), std::system_category());
    }
    // The handle stays and the next call goes through.
    QCOMPARE(transport.handle(), handle);
    QCOMPARE(transport.container(), uint8_t(2));
}

void StreamingRecorderTest::codecNameFillingItsBuffer()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    const std::string full(64, 'N');
    bench.model->setTransport({full + "tail", 2, 0});
    KestrelTransportClient transport;
    transport.open(bench.rpc(), 1000);
    QCOMPARE(transport.codecName(), full);
    bench.model->setTransport({"DNx:HD45", 3, 0});
    QCOMPARE(transport.codecName(), std::string("DNx:HD45"));
}

void StreamingRecorderTest::ordinaryTrafficWaitsForTheUnitsBuffer()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    KestrelSettings settings;
    QVERIFY(bench.device->readSettings(settings));
    // Every message found the buffer full once and waited for it, and no chunk was early.
    QVERIFY(bench.model->link().busyReports() >= bench.model->link().messagesTaken());
    QCOMPARE(bench.model->link().refusedChunks(), 0);
    QCOMPARE(bench.model->link().droppedRetries(), 0);

    // A unit busy for longer than the host polls: the message goes again under its id.
    Sim::StrictStreamLink::Options slow = bench.model->link().options();
    slow.busyPolls = StreamingXmegaUSBDevice::kBufferPolls + 2;
    bench.model->link().setOptions(slow);
    const int busy = bench.model->link().busyReports();
    QVERIFY(bench.device->setClock(99));
    QCOMPARE(bench.model->clock().first, 99u);
    QCOMPARE(bench.model->link().refusedChunks(), 0);
    QCOMPARE(bench.model->link().droppedRetries(), 0);
    QVERIFY(bench.model->link().busyReports() - busy > StreamingXmegaUSBDevice::kBufferPolls);
}

void StreamingRecorderTest::retriedMessageIsTakenOnce()
{
    StreamingBench bench;
    QVERIFY(bench.device);
    // Open, call, close: the call's answer is lost after the unit took it.
    Sim::StrictStreamLink::Options lossy = bench.model->link().options();
    lossy.loseAckOfMessage = bench.model->link().messagesTaken() + 2;
    bench.model->link().setOptions(lossy);
    QVERIFY(bench.device->setClock(4321));
    QCOMPARE(bench.model->clock().first, 4321u);
    QCOMPARE(bench.model->link().droppedRetries(), 1);
    QCOMPARE(bench.callsOf("RTC"), 1);
    QVERIFY(bench.model->rpc().openHandles().empty());
}

void StreamingRecorderTest::chunkWithoutTransactionIdIsRefused()
{
    StreamingBench bench;
    QVERIFY(bench.usb);
    std::vector<uint8_t> chunk(16, 0);
    chunk[0] = 16;
    CVN::USB::UsbControlRequest request;
    bench.usb->makeVendorOutRequest(request, StreamingXmegaUSBDevice::kWriteStream);
    request.wLength = uint16_t(chunk.size());
    request.data = chunk.data();
    QVERIFY(!bench.usb->sendControlRequest(request));
    QCOMPARE(bench.model->link().refusedChunks(), 1);
    QVERIFY(bench.model->rpc().calls().empty());
}

QTEST_GUILESS_MAIN(StreamingRecorderTest)
#include "tst_streamingrecorder.moc"
