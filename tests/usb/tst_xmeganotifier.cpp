#include "xmegatestsupport.h"

#include "platform/qtrecipient.h"
#include "usb/driver/cusbinterface.h"
#include "usb/xmega/qtxmegausbnotifier.h"
#include "usb/xmega/xmegausbdevice.h"
#include "usb/xmega/xmegausbnotifiertemplate.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {

Sim::UsbBus& bus()
{
    return Sim::UsbBus::instance();
}

// Application 0xC3E4 from the constructor, the boot loader 0xC386 from the hook.
class TestNotifier : public XmegaUSBNotifierTemplate<XmegaUSBDevice>
{
public:
    TestNotifier()
    {
        addWatchRow(0x2C4A, 0xC3E4, countingFactory());
        addWatchRow(0x2C4A, 0xC3E5, countingFactory());
    }

    std::atomic<int> made{0};

protected:
    void addWatchRows() override { addWatchRow(0x2C4A, 0xC386, countingFactory()); }

private:
    Factory countingFactory()
    {
        return [this](CVN::USB::IUSBDevice* device, uint16_t) {
            ++made;
            return std::shared_ptr<XmegaUSBDevice>(XmegaUSBDevice::create(device));
        };
    }
};

struct Recorder : XmegaUSBNotifierTemplate<XmegaUSBDevice>::Delegate
{
    std::vector<std::shared_ptr<XmegaUSBDevice>> arrivals;
    std::vector<std::shared_ptr<XmegaUSBDevice>> removals;
    void arrived(std::shared_ptr<XmegaUSBDevice> d) override { arrivals.push_back(d); }
    void removed(std::shared_ptr<XmegaUSBDevice> d) override { removals.push_back(d); }
};

using Handle = QtXmegaUSBDevice<XmegaUSBDevice>;

struct QtRecorder : QtXmegaUSBNotifier<XmegaUSBDevice>::Delegate
{
    std::vector<Handle> arrivals, reboots, removals;
    void arrived(Handle& h) override { arrivals.push_back(h); }
    void rebooted(Handle& h) override { reboots.push_back(h); }
    void removed(Handle& h) override { removals.push_back(h); }
};

uint16_t productOf(const std::shared_ptr<XmegaUSBDevice>& device)
{
    uint16_t pid = 0;
    return device && device->getProductId(pid) ? pid : 0;
}

// The USB-side notifier on a recipient of this thread.
struct Watch
{
    TestNotifier notifier;
    Platform::QtRecipient window{[this](const Platform::Message& m, intptr_t*) {
        return notifier.handleDeviceChangeMessage(m);
    }};
    Watch() { notifier.setNotificationWindow(&window, 0); }
};

// The registry side over a USB-side watch, started on the units already plugged in.
struct RegistryWatch
{
    Watch watch;
    QtXmegaUSBNotifier<XmegaUSBDevice> qt;
    QtRecorder recorder;
    RegistryWatch()
    {
        qt.setDelegate(&recorder);
        qt.start(&watch.notifier, false);
    }
};

} // namespace

class TestXmegaNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { bus().reset(); }

    void bootloaderUnitIsRebootedAndItsApplicationReported();
    void unitStuckInItsBootloaderIsToldEveryOtherTime();
    void withRebootingOffABootloaderUnitIsReported();
    void removals();
    void registryFollowsAUnitThroughAnAnnouncedReboot();
    void unitThatDoesNotComeBackIsRemovedWhenTheTimerRunsOut();
    void unitBackBeforeTheWaitBeginsIsNotMissed();
    void rebootThatCannotBeSentIsTakenBack();
    void deviceKeptPastTheNotifierForgetsItsEventWindow();
    void rebootWaitFollowsATimerThatStartsLate();
};

void TestXmegaNotifier::bootloaderUnitIsRebootedAndItsApplicationReported()
{
    auto unit = makeUnit(0xC3E4, true);
    bus().plug(unit);
    Watch watch;
    Recorder recorder;
    watch.notifier.start(&recorder, true);
    QVERIFY(recorder.arrivals.empty());
    QCOMPARE(unit->rebootRequests(), 1);
    QTRY_COMPARE(int(recorder.arrivals.size()), 1);
    QCOMPARE(productOf(recorder.arrivals[0]), uint16_t(0xC3E4));
    bool bootloader = true;
    QVERIFY(recorder.arrivals[0]->isBootloaderMode(bootloader));
    QVERIFY(!bootloader);
    QCOMPARE(unit->rebootRequests(), 1);
    QVERIFY(recorder.removals.empty());
}

void TestXmegaNotifier::unitStuckInItsBootloaderIsToldEveryOtherTime()
{
    auto unit = makeUnit(0xC3E4, true);
    Sim::XmegaFaults faults;
    faults.applicationWontStart = true;
    unit->setFaults(faults);
    bus().plug(unit);
    Watch watch;
    Recorder recorder;
    watch.notifier.start(&recorder, true);
    QCOMPARE(unit->rebootRequests(), 1);
    // Back in the boot loader: its id is taken off the list and it is left alone.
    QTRY_COMPARE(watch.notifier.made.load(), 2);
    QCOMPARE(unit->rebootRequests(), 1);
    // The next time it shows up it is told again.
    bus().reenumerate(unit->id());
    QTRY_COMPARE(watch.notifier.made.load(), 3);
    QCOMPARE(unit->rebootRequests(), 2);
    QTRY_COMPARE(watch.notifier.made.load(), 4);
    QCOMPARE(unit->rebootRequests(), 2);
    QVERIFY(recorder.arrivals.empty());
    QVERIFY(recorder.removals.empty());
}

void TestXmegaNotifier::withRebootingOffABootloaderUnitIsReported()
{
    auto unit = makeUnit(0xC3E4, true);
    bus().plug(unit);
    Watch watch;
    Recorder recorder;
    watch.notifier.start(&recorder, false);
    QCOMPARE(int(recorder.arrivals.size()), 1);
    QCOMPARE(productOf(recorder.arrivals[0]), uint16_t(0xC386));
    QCOMPARE(unit->rebootRequests(), 0);
}

void TestXmegaNotifier::removals()
{
    auto watched = makeUnit(0xC3E4);
    auto other = makeUnit(0xC3E9);
    auto dropped = makeUnit(0xC3E5);
    Sim::XmegaUnit::Options options;
    options.uniqueId[0] = 0x77;
    options.productId = 0xC3E5;
    dropped = std::make_shared<Sim::XmegaUnit>(options);
    bus().plug(watched);
    bus().plug(other);
    bus().plug(dropped);
    Watch watch;
    Recorder recorder;
    watch.notifier.start(&recorder, true);
    QCOMPARE(int(recorder.arrivals.size()), 2);
    QCOMPARE(watch.notifier.made.load(), 2);

    // Never reported: nothing to tell.
    bus().unplug(other->id());
    // Reported, but the delegate no longer holds it: nothing to tell either.
    std::shared_ptr<XmegaUSBDevice> kept;
    for (auto& d : recorder.arrivals)
        if (productOf(d) == 0xC3E4)
            kept = d;
    QVERIFY(kept);
    recorder.arrivals.clear();
    bus().unplug(dropped->id());
    bus().unplug(watched->id());
    QTRY_COMPARE(int(recorder.removals.size()), 1);
    QCOMPARE(recorder.removals[0], kept);
}

void TestXmegaNotifier::registryFollowsAUnitThroughAnAnnouncedReboot()
{
    auto unit = makeUnit(0xC3E4);
    bus().plug(unit);
    Watch watch;
    QtXmegaUSBNotifier<XmegaUSBDevice> qt;
    QtRecorder recorder;
    qt.setDelegate(&recorder);
    QVERIFY(qt.start(&watch.notifier, false));
    QVERIFY(!qt.start(&watch.notifier, false));
    QCOMPARE(int(recorder.arrivals.size()), 1);
    Handle handle = recorder.arrivals[0];
    QCOMPARE(handle.uniqueId().bytes, unit->uniqueId());
    QVERIFY(qt.find(handle.uniqueId()).device() == handle.device());
    const auto first = handle.device();

    std::atomic<int> result{-1};
    std::thread updater([&] { result = handle.rebootAndWait(true, 5000) ? 1 : 0; });
    QTRY_COMPARE(result.load(), 1);
    updater.join();
    QCOMPARE(int(recorder.reboots.size()), 1);
    QVERIFY(recorder.removals.empty());
    QCOMPARE(int(recorder.arrivals.size()), 1);
    // The handle reaches the unit's new device through its unique id.
    const auto now = handle.current();
    QVERIFY(now && now != first);
    QCOMPARE(productOf(now), uint16_t(0xC386));

    // Without an announcement a removal is reported at once.
    bus().unplug(unit->id());
    QTRY_COMPARE(int(recorder.removals.size()), 1);
    QVERIFY(!qt.registry()->contains(handle.uniqueId()));
}

void TestXmegaNotifier::unitThatDoesNotComeBackIsRemovedWhenTheTimerRunsOut()
{
    auto unit = makeUnit(0xC3E4);
    Sim::XmegaFaults faults;
    faults.rebootNeverReturns = true;
    unit->setFaults(faults);
    bus().plug(unit);
    RegistryWatch w;
    auto& recorder = w.recorder;
    Handle handle = recorder.arrivals.at(0);

    std::atomic<int> result{-1};
    std::thread updater([&] { result = handle.rebootAndWait(true, 150) ? 1 : 0; });
    QTRY_COMPARE(result.load(), 0);
    updater.join();
    QTRY_COMPARE(int(recorder.removals.size()), 1);
    QVERIFY(recorder.reboots.empty());
    QCOMPARE(recorder.removals[0].uniqueId().bytes, unit->uniqueId());
    QVERIFY(!w.qt.registry()->contains(handle.uniqueId()));
}

void TestXmegaNotifier::unitBackBeforeTheWaitBeginsIsNotMissed()
{
    auto unit = makeUnit(0xC3E4);
    bus().plug(unit);
    RegistryWatch w;
    auto& qt = w.qt;
    auto& recorder = w.recorder;
    const DeviceId id = recorder.arrivals.at(0).uniqueId();
    auto registry = qt.registry();

    QVERIFY(registry->announceReboot(id, 5000));
    QVERIFY(registry->isRebooting(id));
    QVERIFY(qt.find(id).device()->rebootToBootloader());
    QTRY_COMPARE(int(recorder.reboots.size()), 1);
    QVERIFY(registry->waitForReturn(id, 0));
    QVERIFY(recorder.removals.empty());
}

void TestXmegaNotifier::rebootThatCannotBeSentIsTakenBack()
{
    auto unit = makeUnit(0xC3E4);
    bus().plug(unit);
    RegistryWatch w;
    auto& qt = w.qt;
    auto& recorder = w.recorder;
    Handle handle = recorder.arrivals.at(0);
    Sim::XmegaFaults faults;
    faults.stallRequest = 1;
    unit->setFaults(faults);
    QVERIFY(!handle.rebootAndWait(true, 50));
    QVERIFY(!qt.registry()->isRebooting(handle.uniqueId()));
    // The queued timer start finds nothing to wait for.
    QTest::qWait(100);
    QVERIFY(recorder.removals.empty());
    QVERIFY(qt.registry()->contains(handle.uniqueId()));
}

void TestXmegaNotifier::deviceKeptPastTheNotifierForgetsItsEventWindow()
{
    bus().plug(makeUnit(0xC3E4, false));
    Recorder recorder;
    {
        Platform::QtRecipient events;
        Watch watch;
        watch.notifier.setEventWindow(&events, 0x8123);
        watch.notifier.start(&recorder, false);
        QCOMPARE(int(recorder.arrivals.size()), 1);
    }
    // The delegate still holds the unit: an interface registered now must not be told to
    // post to the window that went with the notifier.
    CVN::USB::FindInterfaceRequest any;
    CVN::USB::IUSBInterfaceIterator* iterator = nullptr;
    QCOMPARE(recorder.arrivals[0]->usbDevice()->createInterfaceIterator(&any, &iterator),
             CVN::USB::kCVNUsbSuccess);
    CVN::USB::IUSBInterface* interface = nullptr;
    QVERIFY(iterator->next(&interface));
    iterator->Release();
    QCOMPARE(interface->registerForAsyncEvents(), CVN::USB::kCVNUsbSuccess);
    Platform::QtRecipient probe;
    // Refused while a listener (for an earlier window) runs.
    QCOMPARE(static_cast<CVN::USB::CUSBInterface*>(interface)->setAsyncEventSink(&probe, 1),
             CVN::USB::kCVNUsbSuccess);
    interface->Release();
}

void TestXmegaNotifier::rebootWaitFollowsATimerThatStartsLate()
{
    auto unit = makeUnit(0xC3E4);
    bus().plug(unit);
    RegistryWatch w;
    Handle handle = w.recorder.arrivals.at(0);
    std::atomic<int> result{-1};
    std::thread updater([&] { result = handle.rebootAndWait(true, 200) ? 1 : 0; });
    // The notifier's thread is busy past the limit: it starts the reboot timer late and sees
    // the unit back only then. The waiter must not have given up on its own clock by then.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    QTRY_COMPARE(result.load(), 1);
    updater.join();
    QCOMPARE(int(w.recorder.reboots.size()), 1);
    QVERIFY(w.recorder.removals.empty());
}

QTEST_GUILESS_MAIN(TestXmegaNotifier)
#include "tst_xmeganotifier.moc"
