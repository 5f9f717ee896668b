#include "novabench.h"

#include "plugins/webview/transport/cvnusbdevice.h"
#include "plugins/webview/transport/usbcompletionthread.h"
#include "sim/usbbus/configurationbuilder.h"
#include "tests/usb/simdevicefixture.h"
#include "usb/rpc/rpcmessage.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <thread>

using namespace CVN::USB;
using namespace CVN::AbstractUSB;
using CVN::AbstractUSB::CVNUSB::CVNUSBDevice;

namespace {

constexpr uint8_t kOutPipe = 1;
constexpr uint8_t kInPipe = 2;
constexpr int kWaitMs = 5000;

// What an asynchronous transfer reported, and on which thread.
struct Outcome
{
    std::promise<std::pair<USBResult, uint32_t>> promise;
    std::future<std::pair<USBResult, uint32_t>> future = promise.get_future();
    std::atomic<bool> onCompletionThread{false};
    std::atomic<int> calls{0};

    AbstractUSBInterface::ReadCompletion read()
    {
        return [this](USBResult result, uint32_t bytes) {
            onCompletionThread = WebViewUsb::UsbCompletionThread::instance().isCompletionThread();
            if (calls++ == 0)
                promise.set_value({result, bytes});
        };
    }
    AbstractUSBInterface::WriteCompletion written()
    {
        return [this](USBResult result) {
            onCompletionThread = WebViewUsb::UsbCompletionThread::instance().isCompletionThread();
            if (calls++ == 0)
                promise.set_value({result, 0});
        };
    }
    bool ended()
    {
        return future.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
    }
};

} // namespace

class TestUsbAdapters : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void interfacesAreFoundByClass();
    void pipesAsTheTransportsSeeThem();
    void asynchronousRoundTripCompletesOnItsOwnThread();
    void emptyCompletionIsAllowed();
    void refusedStartIsNeverTold();
    void pendingReadEnds_data();
    void pendingReadEnds();
    void controlRequestsGoToTheInterface();
    void synchronousTransfers();
    void manyTransfersFromSeveralThreads();

private:
    std::unique_ptr<AbstractUSBInterface> streamingInterface();
    void startRequest(AbstractUSBInterface& interface);

    std::unique_ptr<NovaBench> m_bench;
    std::unique_ptr<CVNUSBDevice> m_device;
};

void TestUsbAdapters::init()
{
    m_bench = std::make_unique<NovaBench>();
    IUSBDevice* device = m_bench->device();
    QVERIFY(device);
    m_device = std::make_unique<CVNUSBDevice>(device);
}

void TestUsbAdapters::cleanup()
{
    m_device.reset();
    m_bench.reset();
}

std::unique_ptr<AbstractUSBInterface> TestUsbAdapters::streamingInterface()
{
    auto interface = m_device->openInterface(0xFF, 2);
    if (interface && !interface->open())
        return nullptr;
    return interface;
}

void TestUsbAdapters::startRequest(AbstractUSBInterface& interface)
{
    QCOMPARE(interface.controlTransfer(false, 0, 0, nullptr, 0), kUSBSuccess);
}

void TestUsbAdapters::interfacesAreFoundByClass()
{
    QCOMPARE(m_device->vendorId(), uint16_t(0x2C4A));
    QCOMPARE(int(m_device->interfaces().size()), 4);
    const auto vendor = m_device->interfaces(0xFF, 3);
    QCOMPARE(int(vendor.size()), 1);
    QCOMPARE(vendor[0]->interfaceClass(), uint8_t(0xFF));
    QCOMPARE(vendor[0]->interfaceSubclass(), uint8_t(3));
    auto dfu = m_device->openInterface(0xFE, 1);
    QVERIFY(dfu);
    QCOMPARE(dfu->interfaceSubclass(), uint8_t(1));
    QVERIFY(m_device->interfaces(0x42, 0).empty());
    QVERIFY(!m_device->openInterface(0x42, 0));
}

void TestUsbAdapters::pipesAsTheTransportsSeeThem()
{
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    const auto pipes = streaming->pipes();
    QCOMPARE(int(pipes.size()), 2);
    QCOMPARE(pipes[0].pipe, kOutPipe);
    QCOMPARE(pipes[0].direction, 0u);
    QCOMPARE(pipes[0].maxPacketSize, uint16_t(512));
    QVERIFY(pipes[0].bulk);
    QCOMPARE(pipes[1].pipe, kInPipe);
    QCOMPARE(pipes[1].direction, 1u);

    // Packet sizes from 16384 on are reported shifted left by 4.
    Sim::UsbBus::instance().reset();
    Sim::DeviceIdentity identity;
    identity.vendorId = 0x2C4A;
    identity.productId = 0xBE8C;
    Sim::UsbBus::instance().plug(
        std::make_shared<Sim::SimpleUsbDevice>(identity, Sim::ConfigurationBuilder()
                                                             .interface(0, 0, 0xFF, 7, 0)
                                                             .endpoint(0x81, 2, 0x4000)
                                                             .endpoint(0x02, 2, 0x3FFF)
                                                             .endpoint(0x83, 3, 64, 4)
                                                             .build()));
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    QCOMPARE(int(collector.arrivals.size()), 1);
    {
        CVNUSBDevice device(collector.arrivals[0]);
        const auto list = device.openInterface(0xFF, 7)->pipes();
        QCOMPARE(int(list.size()), 3);
        QCOMPARE(list[0].maxPacketSize, uint16_t(0x400));
        QCOMPARE(list[1].maxPacketSize, uint16_t(0x3FFF));
        QVERIFY(!list[2].bulk);
    }
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestUsbAdapters::asynchronousRoundTripCompletesOnItsOwnThread()
{
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    startRequest(*streaming);
    // Nobody here runs a message loop: the adapters' own thread completes the transfers.
    const std::vector<uint8_t> request = VornOSRPC::RpcMessage::exchangeWord(0x11223344);
    Outcome written;
    QCOMPARE(streaming->writeAsync(kOutPipe, request.data(), uint32_t(request.size()),
                                   written.written()),
             kUSBSuccess);
    QVERIFY(written.ended());
    QCOMPARE(written.future.get().first, kUSBSuccess);
    QVERIFY(written.onCompletionThread);

    std::vector<uint8_t> reply(4096, 0);
    Outcome read;
    QCOMPARE(streaming->readAsync(kInPipe, reply.data(), uint32_t(reply.size()), read.read()),
             kUSBSuccess);
    QVERIFY(read.ended());
    const auto result = read.future.get();
    QCOMPARE(result.first, kUSBSuccess);
    QCOMPARE(result.second, 12u);
    QVERIFY(read.onCompletionThread);
    QCOMPARE(reply[8], uint8_t(~0x44));
    QCOMPARE(read.calls.load(), 1);
}

void TestUsbAdapters::emptyCompletionIsAllowed()
{
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    startRequest(*streaming);
    const std::vector<uint8_t> request = VornOSRPC::RpcMessage::exchangeWord(5);
    QCOMPARE(streaming->writeAsync(kOutPipe, request.data(), uint32_t(request.size()), {}),
             kUSBSuccess);
    QTRY_COMPARE_WITH_TIMEOUT(m_bench->recorder().streaming().messagesHandled(), 1, kWaitMs);
    // The transfer still ends: nothing is left pending on the bus.
    QTRY_COMPARE_WITH_TIMEOUT(Sim::UsbBus::instance().pendingTransfers(m_bench->id()), 0, kWaitMs);
}

void TestUsbAdapters::refusedStartIsNeverTold()
{
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    uint8_t buffer[64];
    Outcome read;
    // An OUT pipe cannot be read.
    QCOMPARE(streaming->readAsync(kOutPipe, buffer, sizeof buffer, read.read()), kUSBFailure);
    QCOMPARE(streaming->readAsync(9, buffer, sizeof buffer, read.read()), kUSBFailure);
    QVERIFY(read.future.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout);
    QCOMPARE(read.calls.load(), 0);
}

void TestUsbAdapters::pendingReadEnds_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("result"); // -1: never told
    QTest::newRow("interface destroyed") << "destroy" << -1;
    QTest::newRow("cancelled") << "cancel" << int(kUSBAborted);
    QTest::newRow("unit unplugged") << "unplug" << int(kUSBFailure);
}

void TestUsbAdapters::pendingReadEnds()
{
    QFETCH(QString, ending);
    QFETCH(int, result);
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    std::vector<uint8_t> buffer(512);
    Outcome read;
    QCOMPARE(streaming->readAsync(kInPipe, buffer.data(), uint32_t(buffer.size()), read.read()),
             kUSBSuccess);
    QTRY_COMPARE_WITH_TIMEOUT(m_bench->recorder().streaming().waitingReads(), 1, kWaitMs);
    if (ending == "destroy") {
        streaming.reset();
        QCOMPARE(Sim::UsbBus::instance().pendingTransfers(m_bench->id()), 0);
        QCOMPARE(read.calls.load(), 0);
        return;
    }
    if (ending == "cancel")
        m_bench->recorder().streaming().abortPendingReads();
    else
        Sim::UsbBus::instance().unplug(m_bench->id());
    QVERIFY(read.ended());
    const auto outcome = read.future.get();
    QCOMPARE(int(outcome.first), result);
    QCOMPARE(outcome.second, 0u);
}

void TestUsbAdapters::controlRequestsGoToTheInterface()
{
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    m_bench->clearLog();
    uint8_t state = 0;
    uint32_t transferred = 99;
    QCOMPARE(streaming->controlTransfer(true, 1, 0, &state, 1, &transferred), kUSBSuccess);
    QCOMPARE(transferred, 1u);
    QCOMPARE(state, uint8_t(2));
    const auto log = m_bench->log();
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(log[0].setup.requestType, uint8_t(0xA1));
    QCOMPARE(log[0].setup.index, uint16_t(Sim::NovaRecorder::kStreamingInterface));

    Sim::Faults faults;
    faults.stallRequest = 1;
    m_bench->setBusFaults(faults);
    QCOMPARE(streaming->controlTransfer(true, 1, 0, &state, 1, &transferred), kUSBFailure);
    QCOMPARE(transferred, 0u);
}

void TestUsbAdapters::synchronousTransfers()
{
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    startRequest(*streaming);
    const std::vector<uint8_t> request = VornOSRPC::RpcMessage::exchangeWord(1);
    QCOMPARE(streaming->write(kOutPipe, request.data(), uint32_t(request.size())), kUSBSuccess);
    std::vector<uint8_t> reply(512);
    const auto read = streaming->read(kInPipe, reply.data(), uint32_t(reply.size()));
    QCOMPARE(read.first, kUSBSuccess);
    QCOMPARE(read.second, 12u);
    QCOMPARE(streaming->resetPipe(kInPipe), kUSBSuccess);
}

void TestUsbAdapters::manyTransfersFromSeveralThreads()
{
    // Interfaces of one device used from several threads at once, each its own exchange.
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    auto streaming = streamingInterface();
    QVERIFY(streaming);
    std::atomic<int> completed{0};
    std::mutex exchange;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                std::lock_guard<std::mutex> lock(exchange);
                streaming->controlTransfer(false, 0, 0, nullptr, 0);
                const auto request = VornOSRPC::RpcMessage::exchangeWord(uint32_t(t * 1000 + i));
                Outcome written;
                streaming->writeAsync(kOutPipe, request.data(), uint32_t(request.size()),
                                      written.written());
                std::vector<uint8_t> reply(64);
                Outcome read;
                streaming->readAsync(kInPipe, reply.data(), uint32_t(reply.size()), read.read());
                if (written.ended() && read.ended() && read.future.get().second == 12)
                    ++completed;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    QCOMPARE(completed.load(), kThreads * kRounds);
}

QTEST_GUILESS_MAIN(TestUsbAdapters)
#include "tst_usbadapters.moc"
