#include "simdevicefixture.h"

#include "platform/devicebroadcast.h"
#include "platform/qtrecipient.h"
#include "sim/usbbus/usbdstatus.h"
#include "usb/driver/driverconnection.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::vector<uint32_t>)

using namespace CVN::USB;

namespace {

Sim::UsbBus& bus()
{
    return Sim::UsbBus::instance();
}

Platform::Message deviceChange(uintptr_t code, std::vector<uint8_t> header)
{
    Platform::Message m;
    m.message = Platform::kWmDeviceChange;
    m.wParam = code;
    m.data = std::move(header);
    return m;
}

Platform::Message interfaceMessage(uintptr_t code, const std::string& path)
{
    return deviceChange(code,
                        Platform::DeviceBroadcast::encodeDeviceInterface(kCVNUsbDriverClass, path));
}

} // namespace

class TestDriverAccess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { bus().reset(); }

    void handshake_data();
    void handshake();
    void filter_data();
    void filter();
    void unopenableDeviceDoesNotHideTheRest();
    void registrationsShareOneClassNotification();
    void invalidFlagsLeaveNothingBehind();
    void arrivalAndRemovalThroughRecipient();
    void removalCodes_data();
    void removalCodes();
    void secondArrivalForKnownPathTakesNewHandle();
    void removalOfFilteredOutDeviceIsIgnored();
    void malformedHeadersAreRefused_data();
    void malformedHeadersAreRefused();
    void usbdStatusMapping_data();
    void usbdStatusMapping();
    void statusTexts_data();
    void statusTexts();
};

void TestDriverAccess::handshake_data()
{
    QTest::addColumn<uint>("first");
    QTest::addColumn<uint>("second");
    QTest::addColumn<uint>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("5,5") << 5u << 5u << 8u << true;
    QTest::newRow("6,5") << 6u << 5u << 8u << true;
    QTest::newRow("5,0") << 5u << 0u << 8u << true;
    QTest::newRow("4,4") << 4u << 4u << 8u << false;
    QTest::newRow("6,6") << 6u << 6u << 8u << false;
    QTest::newRow("4-byte reply") << 5u << 5u << 4u << false;
}

void TestDriverAccess::handshake()
{
    QFETCH(uint, first);
    QFETCH(uint, second);
    QFETCH(uint, size);
    QFETCH(bool, accepted);
    Sim::DeviceId id = bus().plug(makeTestDevice());
    Sim::Faults faults;
    faults.handshakeFirst = first;
    faults.handshakeSecond = second;
    faults.handshakeSize = size;
    bus().setFaults(id, faults);

    DriverConnection* connection = ConnectToDriverWithPath(bus().devicePath(id), nullptr, 0);
    QCOMPARE(connection != nullptr, accepted);
    QCOMPARE(bus().openHandles(id), accepted ? 1 : 0);
    if (connection)
        connection->release();
    QCOMPARE(bus().openHandles(id), 0);
}

void TestDriverAccess::filter_data()
{
    QTest::addColumn<std::vector<uint32_t>>("vendors");
    QTest::addColumn<std::vector<uint32_t>>("products");
    QTest::addColumn<QList<int>>("expected"); // indices of the plugged devices
    using V = std::vector<uint32_t>;
    QTest::newRow("no lists") << V{} << V{} << QList<int>{0, 1, 2};
    QTest::newRow("vendor only") << V{0x2C4A} << V{} << QList<int>{0, 1};
    QTest::newRow("high bits ignored") << V{0xABCD2C4A} << V{} << QList<int>{0, 1};
    QTest::newRow("product only") << V{} << V{0xC34C} << QList<int>{0, 2};
    QTest::newRow("both") << V{0x2C4A} << V{0xBE32, 0x1111} << QList<int>{1};
    QTest::newRow("nothing matches") << V{0x9999} << V{} << QList<int>{};
}

void TestDriverAccess::filter()
{
    QFETCH(std::vector<uint32_t>, vendors);
    QFETCH(std::vector<uint32_t>, products);
    QFETCH(QList<int>, expected);
    const std::vector<std::pair<uint16_t, uint16_t>> ids = {
        {0x2C4A, 0xC34C}, {0x2C4A, 0xBE32}, {0x1234, 0xC34C}};
    for (const auto& p : ids)
        bus().plug(makeTestDevice(p.first, p.second));

    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector, vendors, products);
    QVERIFY(r);
    QCOMPARE(int(collector.arrivals.size()), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        uint16_t vid = 0, pid = 0;
        QCOMPARE(collector.arrivals[size_t(i)]->vendorId(&vid), kCVNUsbSuccess);
        QCOMPARE(collector.arrivals[size_t(i)]->productId(&pid), kCVNUsbSuccess);
        QCOMPARE(vid, ids[size_t(expected[i])].first);
        QCOMPARE(pid, ids[size_t(expected[i])].second);
    }
    CVNUsb_UnregisterDeviceNotifications(r);
    collector.clear();
    for (Sim::DeviceId id : bus().devices())
        QCOMPARE(bus().openHandles(id), 0);
}

void TestDriverAccess::unopenableDeviceDoesNotHideTheRest()
{
    Sim::DeviceId broken = bus().plug(makeTestDevice(0x2C4A, 1));
    bus().plug(makeTestDevice(0x2C4A, 2));
    Sim::Faults faults;
    faults.refuseOpen = true;
    bus().setFaults(broken, faults);

    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    QCOMPARE(int(collector.arrivals.size()), 1);
    uint16_t pid = 0;
    collector.arrivals[0]->productId(&pid);
    QCOMPARE(pid, uint16_t(2));
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::registrationsShareOneClassNotification()
{
    int arrivalMessages = 0;
    Platform::QtRecipient recipient([&](const Platform::Message& m, intptr_t*) {
        arrivalMessages += m.wParam == Platform::kDbtDeviceArrival;
        return true;
    });
    DeviceCollector a, b;
    NotificationRegistration* first = registerCollector(&a, {}, {}, &recipient);
    NotificationRegistration* second = registerCollector(&b, {}, {}, &recipient);
    QVERIFY(first && second);

    bus().plug(makeTestDevice());
    QTRY_COMPARE(arrivalMessages, 1);

    CVNUsb_UnregisterDeviceNotifications(first);
    bus().plug(makeTestDevice());
    QTRY_COMPARE(arrivalMessages, 2);

    CVNUsb_UnregisterDeviceNotifications(second);
    bus().plug(makeTestDevice());
    QTest::qWait(20);
    QCoreApplication::processEvents();
    QCOMPARE(arrivalMessages, 2);
}

void TestDriverAccess::invalidFlagsLeaveNothingBehind()
{
    int messages = 0;
    Platform::QtRecipient recipient([&](const Platform::Message&, intptr_t*) {
        ++messages;
        return true;
    });
    QVERIFY(!CVNUsb_RegisterDeviceNotifications(nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                                nullptr, 0, &recipient, 2));
    bus().plug(makeTestDevice());
    QTest::qWait(20);
    QCoreApplication::processEvents();
    QCOMPARE(messages, 0);
}

void TestDriverAccess::arrivalAndRemovalThroughRecipient()
{
    DeviceCollector collector;
    NotificationRegistration* r = nullptr;
    int handled = 0;
    Platform::QtRecipient recipient([&](const Platform::Message& m, intptr_t*) {
        handled += CVNUsb_HandleDeviceChangeMessage(r, m);
        return true;
    });
    r = registerCollector(&collector, {0x2C4A}, {}, &recipient);
    QVERIFY(r);
    QVERIFY(collector.arrivals.empty());

    Sim::DeviceId id = bus().plug(makeTestDevice());
    bus().plug(makeTestDevice(0x1234, 0x0001)); // filtered out
    QTRY_COMPARE(int(collector.arrivals.size()), 1);
    IUSBDevice* device = collector.arrivals[0];
    uint16_t revision = 0;
    QCOMPARE(device->deviceRevision(&revision), kCVNUsbSuccess);
    QCOMPARE(revision, uint16_t(0x0142));

    bus().unplug(id);
    QTRY_COMPARE(int(collector.removals.size()), 1);
    QCOMPARE(collector.removals[0], device);
    // The handle message reports it; the class message that follows finds nothing.
    QTest::qWait(20);
    QCOMPARE(handled, 2);

    // The object stays valid, but the device is gone.
    uint16_t vid = 0;
    QCOMPARE(device->vendorId(&vid), kCVNUsbError);
    uint8_t data[4] = {};
    UsbControlRequest request;
    request.bmRequestType = 0xC0;
    request.wLength = sizeof data;
    request.data = data;
    request.timeout = 100;
    QCOMPARE(device->controlTransfer(&request), kCVNUsbNoDevice);
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::removalCodes_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("byHandle");
    QTest::addColumn<bool>("reported");
    QTest::newRow("query remove") << 0x8001u << false << true;
    QTest::newRow("query remove failed") << 0x8002u << false << true;
    QTest::newRow("remove pending") << 0x8003u << false << true;
    QTest::newRow("remove complete") << 0x8004u << false << true;
    QTest::newRow("remove complete, handle") << 0x8004u << true << true;
    QTest::newRow("other code") << 0x8006u << false << false;
}

void TestDriverAccess::removalCodes()
{
    QFETCH(uint, code);
    QFETCH(bool, byHandle);
    QFETCH(bool, reported);
    Sim::DeviceId id = bus().plug(makeTestDevice());
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    QCOMPARE(int(collector.arrivals.size()), 1);
    const std::string path = bus().devicePath(id);
    const Platform::DriverHandle handle = r->paths.begin()->second;

    Platform::Message m = byHandle
                              ? deviceChange(code, Platform::DeviceBroadcast::encodeHandle(handle))
                              : interfaceMessage(code, path);
    QCOMPARE(CVNUsb_HandleDeviceChangeMessage(r, m), reported);
    QCOMPARE(int(collector.removals.size()), reported ? 1 : 0);
    if (reported) {
        QCOMPARE(collector.removals[0], collector.arrivals[0]);
        QVERIFY(!CVNUsb_HandleDeviceChangeMessage(r, m));
    }
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::secondArrivalForKnownPathTakesNewHandle()
{
    Sim::DeviceId id = bus().plug(makeTestDevice());
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    std::string path = bus().devicePath(id);
    const Platform::DriverHandle first = r->paths.begin()->second;

    // Case differs: the same path.
    std::string upper = path;
    for (char& c : upper)
        c = char(toupper(static_cast<unsigned char>(c)));
    QVERIFY(CVNUsb_HandleDeviceChangeMessage(r, interfaceMessage(0x8000, upper)));
    QCOMPARE(int(collector.arrivals.size()), 2);
    QCOMPARE(int(r->paths.size()), 1);
    QVERIFY(r->paths.begin()->second != first);

    QVERIFY(CVNUsb_HandleDeviceChangeMessage(r, interfaceMessage(0x8004, path)));
    QCOMPARE(int(collector.removals.size()), 1);
    QCOMPARE(collector.removals[0], collector.arrivals[1]);
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::removalOfFilteredOutDeviceIsIgnored()
{
    Sim::DeviceId id = bus().plug(makeTestDevice(0x1234, 0x5678));
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector, {0x2C4A});
    QVERIFY(!CVNUsb_HandleDeviceChangeMessage(r, interfaceMessage(0x8000, bus().devicePath(id))));
    QVERIFY(!CVNUsb_HandleDeviceChangeMessage(r, interfaceMessage(0x8004, bus().devicePath(id))));
    QVERIFY(collector.arrivals.empty() && collector.removals.empty());
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::malformedHeadersAreRefused_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("header");
    auto bytes = [](const std::vector<uint8_t>& v) {
        return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
    };
    const std::vector<uint8_t> good =
        Platform::DeviceBroadcast::encodeDeviceInterface(kCVNUsbDriverClass, "\\\\?\\usb#x");
    std::vector<uint8_t> unterminated = good;
    unterminated[unterminated.size() - 2] = 'x';
    std::vector<uint8_t> oversized = good;
    oversized[0] = 0xFF;
    std::vector<uint8_t> otherClass = good;
    otherClass[12] ^= 1;
    std::vector<uint8_t> shortHandle = Platform::DeviceBroadcast::encodeHandle(0x100);
    shortHandle.resize(20);
    shortHandle[0] = 20;
    QTest::newRow("empty") << 0x8000u << QByteArray();
    QTest::newRow("truncated") << 0x8000u << bytes(good).left(10);
    QTest::newRow("size past the block") << 0x8000u << bytes(oversized);
    QTest::newRow("name not terminated") << 0x8000u << bytes(unterminated);
    QTest::newRow("another class") << 0x8000u << bytes(otherClass);
    QTest::newRow("short handle header") << 0x8004u << bytes(shortHandle);
}

void TestDriverAccess::malformedHeadersAreRefused()
{
    QFETCH(uint, code);
    QFETCH(QByteArray, header);
    bus().plug(makeTestDevice());
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    collector.clear();
    std::vector<uint8_t> data(header.begin(), header.end());
    QVERIFY(!CVNUsb_HandleDeviceChangeMessage(r, deviceChange(code, data)));
    QVERIFY(collector.arrivals.empty() && collector.removals.empty());
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::usbdStatusMapping_data()
{
    QTest::addColumn<uint>("usbd");
    QTest::addColumn<uint>("status");
    QTest::newRow("success") << 0u << uint(kCVNUsbSuccess);
    QTest::newRow("bit 31 clear") << 0x40000123u << uint(kCVNUsbSuccess);
    QTest::newRow("stall") << 0xC0000004u << uint(kCVNUsbPipeStalled);
    QTest::newRow("not responding") << 0xC0000005u << uint(kCVNUsbNotResponding);
    QTest::newRow("invalid parameter") << 0x80000300u << uint(kCVNUsbBadArgument);
    QTest::newRow("invalid pipe") << 0x80000600u << uint(kCVNUsbUnknownPipeErr);
    QTest::newRow("resources") << 0xC0001000u << uint(kCVNUsbNoResources);
    QTest::newRow("interface") << 0xC0004000u << uint(kCVNUsbInterfaceNotFound);
    QTest::newRow("time-out") << 0xC0006000u << uint(kCVNUsbTransactionTimeout);
    QTest::newRow("gone") << 0xC0007000u << uint(kCVNUsbNoDevice);
    QTest::newRow("cancelled") << 0xC0010000u << uint(kCVNUsbAborted);
    QTest::newRow("other") << 0xC0000030u << uint(kCVNUsbError);
    QTest::newRow("unknown") << 0xFFFFFFFFu << uint(kCVNUsbError);
}

// End to end: the device fails a control request with the word, the layer reads it back.
void TestDriverAccess::usbdStatusMapping()
{
    QFETCH(uint, usbd);
    QFETCH(uint, status);
    QCOMPARE(CVNUsbStatusFromUsbd(usbd), status);
    if (usbd == 0 || !(usbd & 0x80000000u))
        return;
    // All ones stands for a status that could not be read.
    const bool unreadable = usbd == 0xFFFFFFFFu;
    auto model = makeTestDevice();
    model->onControl(0x40, 0x01,
                     [usbd, unreadable](const Sim::ControlSetup&, const std::vector<uint8_t>&,
                                        std::vector<uint8_t>*) {
                         return unreadable ? Sim::Usbd::kStall : uint32_t(usbd);
                     });
    Sim::DeviceId id = bus().plug(model);
    if (unreadable)
        bus().overrideDriverFunction(id, DriverFunction::kLastUsbStatus,
                                     [](const std::vector<uint8_t>&, uint8_t*, uint32_t) {
                                         return Platform::IoStatus{false, 0, 31};
                                     });
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    UsbControlRequest request;
    request.bmRequestType = 0x40;
    request.bRequest = 0x01;
    request.timeout = 1000;
    QCOMPARE(collector.arrivals[0]->controlTransfer(&request), status);
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestDriverAccess::statusTexts_data()
{
    QTest::addColumn<uint>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0u << "kCVNUsbSuccess";
    QTest::newRow("5") << 5u << "kCVNUsbExclusiveAccess";
    QTest::newRow("12") << 12u << "kCVNUsbNotEnoughPowerErr";
    QTest::newRow("16") << 16u << "kCVNUsbPipeStalled";
    QTest::newRow("17") << 17u << "kCVNUsbInterfaceNotFound";
    QTest::newRow("18") << 18u << "UNKNOWN (18)";
    QTest::newRow("max") << 0xFFFFFFFFu << "UNKNOWN (4294967295)";
}

void TestDriverAccess::statusTexts()
{
    QFETCH(uint, status);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(CVNUsbStatusText(status)), text);
}

QTEST_GUILESS_MAIN(TestDriverAccess)
#include "tst_driveraccess.moc"
