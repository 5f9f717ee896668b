#include "fx2fixture.h"

#include "usb/fx2/abstractusbdevicenotifier.h"

#include <QtTest>

using namespace CVN::USB;

namespace {

int g_destroyed = 0;

class CountedDevice : public TestFx2Device
{
public:
    using AbstractUSBDevice::dataInterface;
    using AbstractUSBDevice::dataPipe;
    using TestFx2Device::TestFx2Device;
    ~CountedDevice() override { ++g_destroyed; }
    static AbstractUSBDevice* create(IUSBDevice* device, const USBProductEntry* entry)
    {
        return new CountedDevice(device, entry);
    }
};

// A family's notifier: one product id with a RAM image, a window that hands it the
// device-change messages.
class TestNotifier : public AbstractUSBDeviceNotifier
{
public:
    explicit TestNotifier(Platform::Recipient* window)
        : AbstractUSBDeviceNotifier(window, 0)
    {
    }
    ~TestNotifier() override = default;

    using AbstractUSBDeviceNotifier::setEventWindow;

    std::vector<uint32_t> vendorIds() override { return {0x2C4A}; }
    std::vector<uint32_t> productIds() override { return {0xC34C, 0xC34D}; }
    const USBProductEntry* productEntryFor(uint16_t productId) override
    {
        return productId == entry.productId ? &entry : nullptr;
    }
    CVNUsbStatus deviceAdded(AbstractUSBDevice* device) override
    {
        added.push_back(device);
        return kCVNUsbSuccess;
    }
    void deviceRemoved(AbstractUSBDevice* device) override { removed.push_back(device); }
    bool acceptDevice(uint16_t, uint16_t, IUSBDevice*) override { return accept; }
    void deviceRemoving(IUSBDevice*) override { ++removing; }

    std::vector<uint8_t> image = concat({fx2Record(0x0000, patternBytes(32)), fx2EndRecord()});
    USBProductEntry entry{0xC34C, &CountedDevice::create, image.data(), image.size()};
    bool accept = true;
    std::vector<AbstractUSBDevice*> added;
    std::vector<AbstractUSBDevice*> removed;
    int removing = 0;
};

// Owns the window and the notifier in the right order.
struct NotifierBench
{
    NotifierBench()
        : window([this](const Platform::Message& m, intptr_t*) {
            return notifier && notifier->handleDeviceChange(m);
        })
        , notifier(new TestNotifier(&window))
    {
    }
    ~NotifierBench() { delete notifier; }

    Platform::QtRecipient window;
    TestNotifier* notifier = nullptr;
};

Sim::UsbBus& bus()
{
    return Sim::UsbBus::instance();
}

} // namespace

class Fx2NotifierTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { g_destroyed = 0; }
    void cleanup() { bus().reset(); }

    void loadsRamFirmwareThenAddsTheReturningDevice();
    void removalReleasesTheObject();
    void unknownOrRefusedDeviceIsNotOpened();
    void destructorReleasesEveryObject();
    void objectKeptPastTheNotifierPostsNoMoreToItsEventWindow();
};

void Fx2NotifierTest::loadsRamFirmwareThenAddsTheReturningDevice()
{
    auto model = std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, false);
    bus().plug(model);
    NotifierBench bench;
    bench.notifier->startNotifications();
    QVERIFY(bench.notifier->isRegistered());
    // Present at registration: loaded, given up and destroyed at once.
    QVERIFY(bench.notifier->added.empty());
    QCOMPARE(g_destroyed, 1);
    QVERIFY(!model->cpuHeld());
    QCOMPARE(int(model->ramWrites().size()), 3);

    QTRY_COMPARE(int(bench.notifier->added.size()), 1);
    QCOMPARE(bench.notifier->deviceCount(), size_t(1));
    QCOMPARE(int(model->ramWrites().size()), 3); // no second load
    uint16_t pid = 0;
    QVERIFY(bench.notifier->added[0]->productId(&pid));
    QCOMPARE(pid, uint16_t(0xC34C));
    // Opened: its data pipe reaches the flash.
    auto flash = std::make_shared<Sim::Fx2BlockFlash>(Sim::Fx2BlockFlash::Geometry(),
                                                      Sim::Fx2BlockFlash::Stream);
    model->attachPeripheral(0, flash);
    const uint8_t bytes[2] = {0x12, 0x34};
    QVERIFY(bench.notifier->added[0]->enterHardwareAccess(0));
    QVERIFY(bench.notifier->added[0]->writeBulkData(bytes, 2));
    QCOMPARE(flash->contents(0, 2), (std::vector<uint8_t>{0x12, 0x34}));
}

void Fx2NotifierTest::removalReleasesTheObject()
{
    auto model = std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, true);
    const Sim::DeviceId id = bus().plug(model);
    NotifierBench bench;
    bench.notifier->startNotifications();
    QCOMPARE(int(bench.notifier->added.size()), 1);
    AbstractUSBDevice* object = bench.notifier->added[0];
    object->AddRef(); // product code sharing it

    QVERIFY(bus().unplug(id));
    QTRY_COMPARE(int(bench.notifier->removed.size()), 1);
    QCOMPARE(bench.notifier->removed[0], object);
    QCOMPARE(bench.notifier->removing, 1);
    QCOMPARE(bench.notifier->deviceCount(), size_t(0));
    QCOMPARE(g_destroyed, 0);
    QCOMPARE(object->Release(), 0u);
    QCOMPARE(g_destroyed, 1);
}

void Fx2NotifierTest::unknownOrRefusedDeviceIsNotOpened()
{
    auto unknown = std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34D, false);
    auto refused = std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, false);
    const Sim::DeviceId a = bus().plug(unknown);
    NotifierBench first;
    first.notifier->startNotifications();
    QVERIFY(first.notifier->added.empty());
    QVERIFY(bus().requestLog(a).empty());
    QVERIFY(unknown->ramWrites().empty());

    const Sim::DeviceId b = bus().plug(refused);
    NotifierBench second;
    second.notifier->accept = false;
    second.notifier->startNotifications();
    QVERIFY(second.notifier->added.empty());
    QVERIFY(bus().requestLog(b).empty());
    QCOMPARE(g_destroyed, 0); // never made
}

void Fx2NotifierTest::destructorReleasesEveryObject()
{
    bus().plug(std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, true));
    bus().plug(std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, true));
    {
        NotifierBench bench;
        bench.notifier->startNotifications();
        QCOMPARE(int(bench.notifier->added.size()), 2);
    }
    QCOMPARE(g_destroyed, 2);
}

void Fx2NotifierTest::objectKeptPastTheNotifierPostsNoMoreToItsEventWindow()
{
    const Sim::DeviceId id = bus().plug(std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, true));
    CountingRecipient events; // stands for a window that went with the notifier
    CountedDevice* object = nullptr;
    {
        NotifierBench bench;
        bench.notifier->setEventWindow(&events, 0x8123);
        bench.notifier->startNotifications();
        QCOMPARE(int(bench.notifier->added.size()), 1);
        object = static_cast<CountedDevice*>(bench.notifier->added[0]);
        object->AddRef(); // product code keeps it
    }
    const uint8_t data[4] = {1, 2, 3, 4};
    QCOMPARE(
        object->dataInterface()->writePipeAsync(
            object->dataPipe(), data, sizeof data, [](CVNUsbStatus, uint32_t, void*) {}, nullptr),
        kCVNUsbSuccess);
    QTRY_COMPARE(bus().pendingTransfers(id), 0);
    QCOMPARE(events.posts.load(), 0);
    object->Release();
}

QTEST_GUILESS_MAIN(Fx2NotifierTest)
#include "tst_fx2notifier.moc"
