#include "novabench.h"

#include "platform/threadrecipient.h"
#include "plugins/webview/transport/basicusbdelegate.h"
#include "plugins/webview/transport/basicusbnotifier.h"
#include "plugins/webview/transport/cvnusbdevice.h"
#include "plugins/webview/transport/usbcompletionthread.h"
#include "plugins/webview/transport/usbinterfacefinder.h"
#include "plugins/webview/transport/usbnotifier.h"
#include "usb/rpc/rpcmessage.h"

#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

using namespace CVN::USB;

namespace {

constexpr int kWaitMs = 5000;

std::shared_ptr<Sim::NovaRecorder> recorder(uint16_t productId, const std::string& serial)
{
    Sim::NovaRecorder::Options options;
    options.productId = productId;
    options.serial = serial;
    return std::make_shared<Sim::NovaRecorder>(options);
}

uint16_t productIdOf(IUSBDevice* device)
{
    uint16_t id = 0;
    device->productId(&id);
    return id;
}

// What a notifier told, and whether each call came on the notifier's thread.
struct Events
{
    std::mutex mutex;
    std::vector<uint16_t> arrived;
    std::vector<IUSBDevice*> arrivedDevices;
    // By the product id each had when it arrived (a unit gone answers no more).
    std::vector<uint16_t> removed;
    std::atomic<int> offThread{0};

    UsbNotifier::DeviceCallback onArrived(UsbNotifier& notifier)
    {
        return [this, &notifier](IUSBDevice* device) {
            if (!notifier.isNotifierThread())
                ++offThread;
            std::lock_guard<std::mutex> lock(mutex);
            arrived.push_back(productIdOf(device));
            arrivedDevices.push_back(device);
        };
    }
    UsbNotifier::DeviceCallback onRemoved(UsbNotifier& notifier)
    {
        return [this, &notifier](IUSBDevice* device) {
            if (!notifier.isNotifierThread())
                ++offThread;
            std::lock_guard<std::mutex> lock(mutex);
            const auto it = std::find(arrivedDevices.begin(), arrivedDevices.end(), device);
            removed.push_back(
                it == arrivedDevices.end() ? 0 : arrived[size_t(it - arrivedDevices.begin())]);
        };
    }
    int arrivals()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(arrived.size());
    }
    int removals()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(removed.size());
    }
};

// A delegate that starts an asynchronous write on each arriving unit, through the layer
// alone: it can only end when the unit was given the event sink before the delegate heard.
struct WritingDelegate : BasicUSBDelegate
{
    std::atomic<int> arrivals{0};
    std::atomic<int> removals{0};
    std::atomic<int> written{0};
    std::vector<IUSBInterface*> interfaces;

    ~WritingDelegate() override
    {
        for (IUSBInterface* i : interfaces)
            i->Release();
    }
    void deviceArrived(IUSBDevice* device) override
    {
        ++arrivals;
        auto interface = WebViewUsb::findInterface(device, 0xFF, 2);
        interface->registerForAsyncEvents();
        static const std::vector<uint8_t> message = VornOSRPC::RpcMessage::exchangeWord(1);
        interface->writePipeAsync(
            1, message.data(), uint32_t(message.size()),
            [](CVNUsbStatus status, uint32_t, void* context) {
                if (status == kCVNUsbSuccess)
                    ++static_cast<WritingDelegate*>(context)->written;
            },
            this);
        interfaces.push_back(interface.release());
    }
    void deviceRemoved(IUSBDevice*) override { ++removals; }
};

} // namespace

class TestUsbNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Sim::UsbBus::instance().reset(); }

    void arrivalsAndRemovalsOnTheNotifierThread();
    void watchesExactlyItsProductIds();
    void productTableKeysAreTheFilter();
    void neverStartedNotifierGoesQuietly();
    void arrivalWithoutCallbackIsIgnored();
    void startTwiceKeepsOneThread();
    void adaptersCompleteOnTheirOwnThreadForNotifiedUnits();
    void unitsComeAndGoWhileTransfersRun();
    void eventSinkReachesUnitsBeforeTheDelegate_data();
    void eventSinkReachesUnitsBeforeTheDelegate();
};

void TestUsbNotifier::arrivalsAndRemovalsOnTheNotifierThread()
{
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    bus.plug(recorder(0xBE1D, "A1"));
    Events events;
    {
        UsbNotifier notifier({0xBE1D, 0xBEAC});
        notifier.setOnArrived(events.onArrived(notifier));
        notifier.setOnRemoved(events.onRemoved(notifier));
        QVERIFY(notifier.start());
        // The unit already present is told before start returns.
        QCOMPARE(events.arrivals(), 1);
        const Sim::DeviceId second = bus.plug(recorder(0xBEAC, "A2"));
        QTRY_COMPARE_WITH_TIMEOUT(events.arrivals(), 2, kWaitMs);
        bus.unplug(second);
        QTRY_COMPARE_WITH_TIMEOUT(events.removals(), 1, kWaitMs);
        QCOMPARE(events.removed, std::vector<uint16_t>({0xBEAC}));
        QVERIFY(!notifier.isNotifierThread());
    }
    QCOMPARE(events.arrived, std::vector<uint16_t>({0xBE1D, 0xBEAC}));
    QCOMPARE(events.offThread.load(), 0);
}

void TestUsbNotifier::watchesExactlyItsProductIds()
{
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    const uint16_t ids[] = {0xBE1D, 0xBEAC, 0xBE76, 0xBE7A};
    int n = 0;
    for (uint16_t id : ids)
        bus.plug(recorder(id, "W" + std::to_string(n++)));
    Events events;
    UsbNotifier notifier({0xBE76, 0xBE1D, 0xBE7A});
    QCOMPARE(notifier.productIds(), std::vector<uint16_t>({0xBE76, 0xBE1D, 0xBE7A}));
    notifier.setOnArrived(events.onArrived(notifier));
    QVERIFY(notifier.start());
    std::lock_guard<std::mutex> lock(events.mutex);
    std::vector<uint16_t> seen = events.arrived;
    std::sort(seen.begin(), seen.end());
    QCOMPARE(seen, std::vector<uint16_t>({0xBE1D, 0xBE76, 0xBE7A}));
}

void TestUsbNotifier::productTableKeysAreTheFilter()
{
    const std::map<uint16_t, QString> table = {{0xBE8C, "Dogwood"}, {0xBE8D, "Elm"}};
    UsbNotifier notifier(UsbNotifier::productIdsOf(table));
    QCOMPARE(notifier.productIds(), std::vector<uint16_t>({0xBE8C, 0xBE8D}));
}

void TestUsbNotifier::neverStartedNotifierGoesQuietly()
{
    Sim::UsbBus::instance().plug(recorder(0xBE1D, "Q1"));
    Events events;
    {
        UsbNotifier notifier({0xBE1D});
        notifier.setOnArrived(events.onArrived(notifier));
        QVERIFY(!notifier.isNotifierThread());
    }
    QCOMPARE(events.arrivals(), 0);
}

void TestUsbNotifier::arrivalWithoutCallbackIsIgnored()
{
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    const Sim::DeviceId id = bus.plug(recorder(0xBE1D, "I1"));
    Events events;
    UsbNotifier notifier({0xBE1D});
    QVERIFY(notifier.start());
    // Installed later: the unit is still known, and its removal is told.
    notifier.setOnRemoved(events.onRemoved(notifier));
    bus.unplug(id);
    QTRY_COMPARE_WITH_TIMEOUT(events.removals(), 1, kWaitMs);
    QCOMPARE(events.arrivals(), 0);
}

void TestUsbNotifier::startTwiceKeepsOneThread()
{
    Sim::UsbBus::instance().plug(recorder(0xBE1D, "T1"));
    Events events;
    UsbNotifier notifier({0xBE1D});
    notifier.setOnArrived(events.onArrived(notifier));
    QVERIFY(notifier.start());
    QVERIFY(notifier.start());
    QCOMPARE(events.arrivals(), 1);
}

void TestUsbNotifier::adaptersCompleteOnTheirOwnThreadForNotifiedUnits()
{
    Sim::UsbBus::instance().plug(recorder(0xBE1D, "C1"));
    std::mutex mutex;
    IUSBDevice* unit = nullptr;
    UsbNotifier notifier({0xBE1D});
    notifier.setOnArrived([&](IUSBDevice* device) {
        std::lock_guard<std::mutex> lock(mutex);
        device->AddRef();
        unit = device;
    });
    QVERIFY(notifier.start());
    QVERIFY(unit);
    {
        CVN::AbstractUSB::CVNUSB::CVNUSBDevice device(unit);
        auto streaming = device.openInterface(0xFF, 2);
        QVERIFY(streaming && streaming->open());
        QCOMPARE(streaming->controlTransfer(false, 0, 0, nullptr, 0),
                 CVN::AbstractUSB::kUSBSuccess);
        const auto message = VornOSRPC::RpcMessage::exchangeWord(3);
        std::atomic<int> done{0};
        std::atomic<bool> onAdapterThread{false};
        streaming->writeAsync(
            1, message.data(), uint32_t(message.size()), [&](CVN::AbstractUSB::USBResult result) {
                onAdapterThread = WebViewUsb::UsbCompletionThread::instance().isCompletionThread();
                done = result == CVN::AbstractUSB::kUSBSuccess ? 1 : -1;
            });
        QTRY_VERIFY_WITH_TIMEOUT(done.load() != 0, kWaitMs);
        QCOMPARE(done.load(), 1);
        QVERIFY(onAdapterThread);
    }
    unit->Release();
}

void TestUsbNotifier::unitsComeAndGoWhileTransfersRun()
{
    // Each round: a unit arrives, a transfer runs on it through the adapters, and the unit
    // leaves, some of the time with a read still pending.
    constexpr int kRounds = 20;
    std::mutex mutex;
    std::vector<IUSBDevice*> units;
    std::atomic<int> removals{0};
    UsbNotifier notifier({0xBE1D});
    notifier.setOnArrived([&](IUSBDevice* device) {
        std::lock_guard<std::mutex> lock(mutex);
        device->AddRef();
        units.push_back(device);
    });
    notifier.setOnRemoved([&](IUSBDevice*) { ++removals; });
    auto arrived = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return int(units.size());
    };
    QVERIFY(notifier.start());
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    for (int round = 0; round < kRounds; ++round) {
        const Sim::DeviceId id = bus.plug(recorder(0xBE1D, "R" + std::to_string(round)));
        QTRY_COMPARE_WITH_TIMEOUT(arrived(), round + 1, kWaitMs);
        IUSBDevice* unit = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            unit = units.back();
        }
        std::atomic<int> ended{0};
        {
            CVN::AbstractUSB::CVNUSB::CVNUSBDevice device(unit);
            auto streaming = device.openInterface(0xFF, 2);
            QVERIFY(streaming && streaming->open());
            streaming->controlTransfer(false, 0, 0, nullptr, 0);
            const auto message = VornOSRPC::RpcMessage::exchangeWord(uint32_t(round));
            streaming->writeAsync(1, message.data(), uint32_t(message.size()),
                                  [&](CVN::AbstractUSB::USBResult) { ++ended; });
            std::vector<uint8_t> reply(64);
            streaming->readAsync(2, reply.data(), uint32_t(reply.size()),
                                 [&](CVN::AbstractUSB::USBResult, uint32_t) { ++ended; });
            QTRY_COMPARE_WITH_TIMEOUT(ended.load(), 2, kWaitMs);
            if (round % 2)
                streaming->readAsync(2, reply.data(), uint32_t(reply.size()),
                                     [&](CVN::AbstractUSB::USBResult, uint32_t) { ++ended; });
            bus.unplug(id);
            QTRY_COMPARE_WITH_TIMEOUT(removals.load(), round + 1, kWaitMs);
            if (round % 2)
                QTRY_COMPARE_WITH_TIMEOUT(ended.load(), 3, kWaitMs);
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    for (IUSBDevice* unit : units)
        unit->Release();
}

void TestUsbNotifier::eventSinkReachesUnitsBeforeTheDelegate_data()
{
    QTest::addColumn<bool>("withSink");
    QTest::newRow("sink set") << true;
    QTest::newRow("no sink") << false;
}

void TestUsbNotifier::eventSinkReachesUnitsBeforeTheDelegate()
{
    QFETCH(bool, withSink);
    constexpr uint32_t kMessage = 0x8123;
    Sim::UsbBus& bus = Sim::UsbBus::instance();
    bus.plug(recorder(0xBE1D, "S1"));
    WritingDelegate delegate;
    std::unique_ptr<BasicUSBNotifier> notifier;
    std::atomic<int> offered{0};
    Platform::ThreadRecipient thread([&](const Platform::Message& message, intptr_t*) {
        if (message.message == Platform::kWmDeviceChange)
            return notifier->handleDeviceChange(message);
        if (message.message == kMessage) {
            ++offered;
            return notifier->handleAsyncEvent(message.wParam, message.lParamValue);
        }
        return false;
    });
    QVERIFY(thread.start());
    thread.invoke([&] {
        notifier = std::make_unique<BasicUSBNotifier>(&delegate);
        notifier->addProductId(0xBE1D);
        notifier->setWindow(&thread, 0);
        if (withSink)
            notifier->setAsyncEventSink(&thread, kMessage);
        QVERIFY(notifier->start());
    });
    QCOMPARE(delegate.arrivals.load(), 1);
    const Sim::DeviceId later = bus.plug(recorder(0xBE1D, "S2"));
    QTRY_COMPARE_WITH_TIMEOUT(delegate.arrivals.load(), 2, kWaitMs);
    if (withSink) {
        QTRY_COMPARE_WITH_TIMEOUT(delegate.written.load(), 2, kWaitMs);
    } else {
        QTest::qWait(100);
        QCOMPARE(offered.load(), 0);
        QCOMPARE(delegate.written.load(), 0);
    }
    thread.invoke([&] { QCOMPARE(int(notifier->devices().size()), 2); });
    bus.unplug(later);
    QTRY_COMPARE_WITH_TIMEOUT(delegate.removals.load(), 1, kWaitMs);
    thread.invoke([&] {
        QCOMPARE(int(notifier->devices().size()), 1);
        for (IUSBInterface* i : delegate.interfaces)
            i->Release();
        delegate.interfaces.clear();
        notifier.reset();
    });
    thread.quit();
}

QTEST_GUILESS_MAIN(TestUsbNotifier)
#include "tst_usbnotifier.moc"
