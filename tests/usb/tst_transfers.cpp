#include "simdevicefixture.h"

#include "platform/bytewriter.h"
#include "platform/qtrecipient.h"
#include "platform/threadrecipient.h"
#include "sim/usbbus/usbdstatus.h"
#include "usb/driver/cusbdevice.h"
#include "usb/driver/descriptorwalk.h"
#include "usb/driver/driverconnection.h"

#include <QtTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

using namespace CVN::USB;

namespace {

Sim::UsbBus& bus()
{
    return Sim::UsbBus::instance();
}

constexpr uint32_t kCompletionMessage = 0x8123;

struct Completion
{
    int calls = 0;
    CVNUsbStatus status = 0xFF;
    uint32_t bytes = 0;

    static void done(CVNUsbStatus status, uint32_t bytes, void* context)
    {
        auto* c = static_cast<Completion*>(context);
        ++c->calls;
        c->status = status;
        c->bytes = bytes;
    }
};

// Starts a read on pipe 2 and gives its event, the only one pending; null when refused.
CVNUsbEvent startRead(IUSBInterface* interface, void* buffer, uint32_t size, Completion* c)
{
    CVNUsbEvent event = nullptr;
    uint32_t count = 0;
    if (interface->readPipeAsync(2, buffer, size, &Completion::done, c) != kCVNUsbSuccess ||
        interface->pendingAsyncEvents(&event, 1, &count) != kCVNUsbSuccess)
        return nullptr;
    return event;
}

// Unplugs itself while the bus reads its configuration on the way to admitting a transfer,
// after the bus has seen it present.
class UnplugMidRequest : public Sim::SimpleUsbDevice
{
public:
    using Sim::SimpleUsbDevice::SimpleUsbDevice;
    std::vector<uint8_t> configurationDescriptor(uint8_t index) const override
    {
        if (const Sim::DeviceId id = unplugOnRead.exchange(0))
            Sim::UsbBus::instance().unplug(id);
        return Sim::SimpleUsbDevice::configurationDescriptor(index);
    }
    mutable std::atomic<Sim::DeviceId> unplugOnRead{0};
};

IUSBInterface* firstInterface(IUSBDevice* device, uint16_t interfaceClass)
{
    FindInterfaceRequest match;
    match.bInterfaceClass = interfaceClass;
    IUSBInterfaceIterator* iterator = nullptr;
    if (device->createInterfaceIterator(&match, &iterator) != kCVNUsbSuccess)
        return nullptr;
    IUSBInterface* interface = nullptr;
    if (!iterator->next(&interface))
        interface = nullptr;
    iterator->Release();
    return interface;
}

} // namespace

// One simulated device opened through the layer, with its vendor and DFU-like interfaces.
class TestTransfers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void controlInCopiesDataBack();
    void controlOutLeavesBufferAlone();
    void controlFailures_data();
    void controlFailures();
    void deviceProperties();
    void propertyReplyOfWrongSizeIsRefused();
    void interfaceIteration_data();
    void interfaceIteration();
    void interfaceListFromDriverIsBounded_data();
    void interfaceListFromDriverIsBounded();
    void pipeProperties();
    void bulkReadAndWrite();
    void bulkFailures_data();
    void bulkFailures();
    void asyncCompletesOnRecipientThread();
    void asyncBookkeeping();
    void pendingLimitRefusesInsteadOfStalling();
    void destroyingInterfaceCancelsPendingTransfers();
    void unplugFailsPendingTransfers();
    void transferStartedDuringUnplugFails();
    void asyncEndings_data();
    void asyncEndings();
    void asyncStartNotPendingIsRefused();
    void callbackMayDropTheLastReference();
    void staleCompletionNeverMatchesANewRequest();
    void completionWhosePostFailedIsPostedAgain();
    void unregisteringStopsHandleNotifications();
    void exclusiveOpen();
    void driverOptionIsNotAConfiguration();
    void findDescriptor();
    void configurationReplyFromDriverIsChecked_data();
    void configurationReplyFromDriverIsChecked();
    void malformedDescriptors_data();
    void malformedDescriptors();
    void reenumerationGivesNewDeviceOnSamePath();
    void deviceLeavingInAnswerToARequestStillAnswersIt();

private:
    std::shared_ptr<Sim::SimpleUsbDevice> m_model;
    Sim::DeviceId m_id = 0;
    DeviceCollector m_collector;
    NotificationRegistration* m_registration = nullptr;
    IUSBDevice* m_device = nullptr;
    IUSBInterface* m_vendor = nullptr;
};

void TestTransfers::init()
{
    m_model = makeTestDevice();
    m_model->onControl(
        0xC0, 0x10,
        [](const Sim::ControlSetup& s, const std::vector<uint8_t>&, std::vector<uint8_t>* in) {
            for (uint16_t i = 0; i < s.length; ++i)
                in->push_back(uint8_t(0xA0 + i));
            return Sim::Usbd::kSuccess;
        });
    m_model->onControl(0x41, 0x12,
                       [](const Sim::ControlSetup&, const std::vector<uint8_t>&,
                          std::vector<uint8_t>*) { return Sim::Usbd::kSuccess; });
    m_id = bus().plug(m_model);
    m_registration = registerCollector(&m_collector);
    QVERIFY(m_registration);
    QCOMPARE(int(m_collector.arrivals.size()), 1);
    m_device = m_collector.arrivals[0];
    m_vendor = firstInterface(m_device, 0xFF);
    QVERIFY(m_vendor);
    bus().clearRequestLog(m_id);
}

void TestTransfers::cleanup()
{
    if (m_vendor)
        m_vendor->Release();
    m_vendor = nullptr;
    m_collector.clear();
    CVNUsb_UnregisterDeviceNotifications(m_registration);
    m_registration = nullptr;
    m_device = nullptr;
    bus().reset();
    m_model.reset();
}

void TestTransfers::controlInCopiesDataBack()
{
    uint8_t data[6] = {};
    UsbControlRequest request;
    request.bmRequestType = 0xC0;
    request.bRequest = 0x10;
    request.wValue = 0x1234;
    request.wIndex = 0x0002;
    request.wLength = sizeof data;
    request.data = data;
    request.timeout = 1000;
    QCOMPARE(m_device->controlTransfer(&request), kCVNUsbSuccess);
    const uint8_t expected[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    QVERIFY(std::memcmp(data, expected, sizeof data) == 0);

    const auto log = bus().requestLog(m_id);
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(log[0].setup.requestType, uint8_t(0xC0));
    QCOMPARE(log[0].setup.value, uint16_t(0x1234));
    QCOMPARE(log[0].setup.index, uint16_t(0x0002));
    QCOMPARE(log[0].setup.length, uint16_t(6));
}

void TestTransfers::controlOutLeavesBufferAlone()
{
    uint8_t data[3] = {1, 2, 3};
    UsbControlRequest request;
    request.bmRequestType = 0x41;
    request.bRequest = 0x12;
    request.wValue = 1;
    request.wLength = sizeof data;
    request.data = data;
    request.timeout = 1000;
    QCOMPARE(m_device->controlTransfer(&request), kCVNUsbSuccess);
    QCOMPARE(data[0], uint8_t(1));
    QCOMPARE(data[2], uint8_t(3));
    const auto log = bus().requestLog(m_id);
    QCOMPARE(log.at(0).setup.requestType, uint8_t(0x41));
    QCOMPARE(log.at(0).data, (std::vector<uint8_t>{1, 2, 3}));
    QCOMPARE(m_device->controlTransfer(nullptr), kCVNUsbBadArgument);
}

void TestTransfers::controlFailures_data()
{
    QTest::addColumn<int>("stall");
    QTest::addColumn<int>("drop");
    QTest::addColumn<int>("shortBy");
    QTest::addColumn<uint>("status");
    QTest::newRow("stall") << 1 << 0 << 0 << uint(kCVNUsbPipeStalled);
    QTest::newRow("time-out") << 0 << 1 << 0 << uint(kCVNUsbTransactionTimeout);
    QTest::newRow("short reply") << 0 << 0 << 2 << uint(kCVNUsbError);
}

void TestTransfers::controlFailures()
{
    QFETCH(int, stall);
    QFETCH(int, drop);
    QFETCH(int, shortBy);
    QFETCH(uint, status);
    Sim::Faults faults;
    faults.stallRequest = stall;
    faults.dropRequest = drop;
    faults.shortReplyBy = shortBy;
    bus().setFaults(m_id, faults);
    uint8_t data[4] = {9, 9, 9, 9};
    UsbControlRequest request;
    request.bmRequestType = 0xC0;
    request.bRequest = 0x10;
    request.wLength = sizeof data;
    request.data = data;
    request.timeout = 30;
    QCOMPARE(m_device->controlTransfer(&request), status);
    QCOMPARE(data[0], uint8_t(9));
    // The next request goes through again.
    QCOMPARE(m_device->controlTransfer(&request), shortBy ? status : uint(kCVNUsbSuccess));
}

void TestTransfers::deviceProperties()
{
    uint16_t vid = 0, pid = 0, revision = 0;
    uint8_t serial = 0, configurations = 0;
    QCOMPARE(m_device->vendorId(&vid), kCVNUsbSuccess);
    QCOMPARE(m_device->productId(&pid), kCVNUsbSuccess);
    QCOMPARE(m_device->deviceRevision(&revision), kCVNUsbSuccess);
    QCOMPARE(m_device->serialNumberStringIndex(&serial), kCVNUsbSuccess);
    QCOMPARE(m_device->configurationCount(&configurations), kCVNUsbSuccess);
    QCOMPARE(vid, uint16_t(0x2C4A));
    QCOMPARE(pid, uint16_t(0xC34C));
    QCOMPARE(revision, uint16_t(0x0142));
    QCOMPARE(serial, uint8_t(3));
    QCOMPARE(configurations, uint8_t(1));
    QCOMPARE(m_device->unsupportedProperty8(), kCVNUsbError);
    QCOMPARE(m_device->unsupportedProperty11(), kCVNUsbError);
}

void TestTransfers::propertyReplyOfWrongSizeIsRefused()
{
    bus().overrideDriverFunction(m_id, DriverFunction::kProductId,
                                 [](const std::vector<uint8_t>&, uint8_t* out, uint32_t size) {
                                     Platform::ByteWriter(out, size).u16(0, 0xBEEF);
                                     return Platform::IoStatus{true, 2, 0};
                                 });
    uint16_t pid = 7;
    QCOMPARE(m_device->productId(&pid), kCVNUsbError);
    QCOMPARE(pid, uint16_t(7));
}

void TestTransfers::interfaceIteration_data()
{
    QTest::addColumn<uint>("interfaceClass");
    QTest::addColumn<QList<int>>("numbers");
    QTest::newRow("vendor") << 0xFFu << QList<int>{0};
    QTest::newRow("any") << 0xFFFFu << QList<int>{0, 1};
    QTest::newRow("none") << 0x42u << QList<int>{};
}

void TestTransfers::interfaceIteration()
{
    QFETCH(uint, interfaceClass);
    QFETCH(QList<int>, numbers);
    FindInterfaceRequest match;
    match.bInterfaceClass = uint16_t(interfaceClass);
    IUSBInterfaceIterator* iterator = nullptr;
    QCOMPARE(m_device->createInterfaceIterator(&match, &iterator), kCVNUsbSuccess);
    QList<int> seen;
    IUSBInterface* interface = nullptr;
    while (iterator->next(&interface)) {
        uint8_t number = 0, cls = 0;
        QCOMPARE(interface->interfaceNumber(&number), kCVNUsbSuccess);
        QCOMPARE(interface->interfaceClass(&cls), kCVNUsbSuccess);
        if (interfaceClass != 0xFFFF)
            QCOMPARE(uint(cls), interfaceClass);
        seen << number;
        interface->Release();
    }
    QVERIFY(!iterator->next(&interface));
    iterator->Release();
    QCOMPARE(seen, numbers);
    QCOMPARE(m_device->createInterfaceIterator(&match, nullptr), kCVNUsbError);
}

void TestTransfers::interfaceListFromDriverIsBounded_data()
{
    QTest::addColumn<uint>("announced");
    QTest::addColumn<uint>("second");
    QTest::addColumn<uint>("returned");
    QTest::newRow("huge count") << 0xFFFFFFFFu << 0u << 4u;
    QTest::newRow("second count larger") << 2u << 3u << 16u;
    QTest::newRow("second reply short") << 2u << 2u << 8u;
    QTest::newRow("claims past the buffer") << 2u << 2u << 400u;
}

void TestTransfers::interfaceListFromDriverIsBounded()
{
    QFETCH(uint, announced);
    QFETCH(uint, second);
    QFETCH(uint, returned);
    bus().overrideDriverFunction(
        m_id, DriverFunction::kInterfaceList,
        [=](const std::vector<uint8_t>&, uint8_t* out, uint32_t size) -> Platform::IoStatus {
            Platform::ByteWriter w(out, size);
            if (size == 4) {
                w.u32(0, announced);
                return {true, 4, 0};
            }
            w.u32(0, second);
            return {true, returned, 0};
        });
    FindInterfaceRequest match;
    IUSBInterfaceIterator* iterator = nullptr;
    QCOMPARE(m_device->createInterfaceIterator(&match, &iterator), kCVNUsbError);
    QVERIFY(!iterator);
}

void TestTransfers::pipeProperties()
{
    uint8_t count = 0;
    QCOMPARE(m_vendor->GetNumEndpoints(&count), kCVNUsbSuccess);
    QCOMPARE(count, uint8_t(2));
    uint8_t direction = 9, type = 9, fourth = 9;
    uint16_t maxPacket = 0;
    QCOMPARE(m_vendor->GetPipeProperties(2, &direction, &type, &maxPacket, &fourth),
             kCVNUsbSuccess);
    QCOMPARE(direction, uint8_t(1));
    QCOMPARE(type, uint8_t(2));
    QCOMPARE(maxPacket, uint16_t(512));
    QCOMPARE(m_vendor->GetPipeProperties(3, &direction, &type, &maxPacket, &fourth), kCVNUsbError);
    uint8_t subclass = 0;
    QCOMPARE(m_vendor->interfaceSubclass(&subclass), kCVNUsbSuccess);
    QCOMPARE(subclass, uint8_t(2));
}

void TestTransfers::bulkReadAndWrite()
{
    const uint8_t out[5] = {1, 2, 3, 4, 5};
    QCOMPARE(m_vendor->writePipe(1, out, sizeof out, 1000, 1000), kCVNUsbSuccess);
    QCOMPARE(m_model->bulkOutData(0x01).size(), size_t(1));
    QCOMPARE(m_model->bulkOutData(0x01)[0], (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    m_model->queueIn(0x81, {7, 8, 9});
    uint8_t in[16] = {};
    uint32_t length = sizeof in;
    QCOMPARE(m_vendor->readPipe(2, in, &length, 1000, 1000), kCVNUsbSuccess);
    QCOMPARE(length, 3u);
    QCOMPARE(in[2], uint8_t(9));
    QCOMPARE(m_vendor->readPipe(2, in, nullptr, 1000, 1000), kCVNUsbBadArgument);

    const auto log = bus().requestLog(m_id);
    QCOMPARE(log.at(0).kind, Sim::LogEntry::BulkOut);
    QCOMPARE(log.at(1).kind, Sim::LogEntry::BulkIn);
    QCOMPARE(log.at(1).value, 16u);
}

void TestTransfers::bulkFailures_data()
{
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("stall");
    QTest::addColumn<uint>("status");
    QTest::newRow("read time-out") << true << 0 << uint(kCVNUsbTransactionTimeout);
    QTest::newRow("read stall") << true << 1 << uint(kCVNUsbError);
    QTest::newRow("write time-out") << false << 0 << uint(kCVNUsbTransactionTimeout);
    QTest::newRow("write stall") << false << 1 << uint(kCVNUsbError);
}

void TestTransfers::bulkFailures()
{
    QFETCH(bool, read);
    QFETCH(int, stall);
    QFETCH(uint, status);
    Sim::Faults faults;
    faults.stallRequest = stall;
    faults.dropRequest = stall ? 0 : 1;
    bus().setFaults(m_id, faults);
    uint8_t buffer[8] = {};
    uint32_t length = sizeof buffer;
    QCOMPARE(read ? m_vendor->readPipe(2, buffer, &length, 30, 30)
                  : m_vendor->writePipe(1, buffer, length, 30, 30),
             status);
    QCOMPARE(bus().pendingTransfers(m_id), 0);
}

void TestTransfers::asyncCompletesOnRecipientThread()
{
    Platform::QtRecipient window([this](const Platform::Message& m, intptr_t*) {
        if (m.message != kCompletionMessage)
            return false;
        m_device->dispatchAsyncEvent(reinterpret_cast<CVNUsbEvent>(m.wParam),
                                     reinterpret_cast<IUSBInterface*>(m.lParamValue));
        return true;
    });
    QCOMPARE(m_vendor->registerForAsyncEvents(), kCVNUsbSuccess);
    QCOMPARE(m_vendor->registerForAsyncEvents(), kCVNUsbError);
    QCOMPARE(m_device->setAsyncEventSink(&window, kCompletionMessage), kCVNUsbSuccess);

    Completion read, write;
    uint8_t buffer[32] = {};
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, sizeof buffer, &Completion::done, &read),
             kCVNUsbSuccess);
    const uint8_t data[4] = {4, 3, 2, 1};
    QCOMPARE(m_vendor->writePipeAsync(1, data, sizeof data, &Completion::done, &write),
             kCVNUsbSuccess);
    m_model->queueIn(0x81, {0x55, 0x66});
    // Completions run from the recipient's queue, never inside the call that started them.
    QCOMPARE(read.calls + write.calls, 0);
    QTRY_COMPARE(read.calls, 1);
    QTRY_COMPARE(write.calls, 1);
    QCOMPARE(read.status, kCVNUsbSuccess);
    QCOMPARE(read.bytes, 2u);
    QCOMPARE(buffer[1], uint8_t(0x66));
    QCOMPARE(write.status, kCVNUsbSuccess);
    QCOMPARE(write.bytes, 4u);
    QCOMPARE(m_model->bulkOutData(0x01).at(0), (std::vector<uint8_t>{4, 3, 2, 1}));
    QCOMPARE(m_vendor->unregisterForAsyncEvents(), kCVNUsbSuccess);
}

void TestTransfers::asyncBookkeeping()
{
    auto* vendor = static_cast<CUSBInterface*>(m_vendor);
    Platform::QtRecipient window;
    QCOMPARE(vendor->setAsyncEventSink(&window, kCompletionMessage), kCVNUsbSuccess);
    QCOMPARE(vendor->setAsyncEventSink(&window, kCompletionMessage + 1), kCVNUsbError);
    QCOMPARE(vendor->setAsyncEventSink(nullptr, 0), kCVNUsbSuccess);

    Completion c;
    uint8_t buffers[3][8] = {};
    for (auto& b : buffers)
        QCOMPARE(m_vendor->readPipeAsync(2, b, sizeof b, &Completion::done, &c), kCVNUsbSuccess);
    CVNUsbEvent events[3] = {};
    uint32_t count = 0;
    QCOMPARE(m_vendor->pendingAsyncEvents(events, 2, &count), kCVNUsbBadArgument);
    QCOMPARE(count, 3u);
    QCOMPARE(m_vendor->pendingAsyncEvents(events, 3, &count), kCVNUsbSuccess);

    int local = 0;
    QCOMPARE(m_vendor->completeAsyncRequest(&local), kCVNUsbBadArgument);
    QCOMPARE(m_vendor->completeAsyncRequest(nullptr), kCVNUsbBadArgument);
    QCOMPARE(c.calls, 0);
    QCOMPARE(m_device->dispatchAsyncEvent(events[0], nullptr), kCVNUsbNotHandled);

    m_model->queueIn(0x81, {1});
    QCOMPARE(m_vendor->completeAsyncRequest(events[0]), kCVNUsbSuccess);
    QCOMPARE(c.calls, 1);
    QCOMPARE(c.bytes, 1u);
    QCOMPARE(m_vendor->completeAsyncRequest(events[0]), kCVNUsbBadArgument);
    QCOMPARE(m_vendor->pendingAsyncEvents(events, 3, &count), kCVNUsbSuccess);
    QCOMPARE(count, 2u);
}

void TestTransfers::pendingLimitRefusesInsteadOfStalling()
{
    Platform::QtRecipient window([this](const Platform::Message& m, intptr_t*) {
        m_device->dispatchAsyncEvent(reinterpret_cast<CVNUsbEvent>(m.wParam),
                                     reinterpret_cast<IUSBInterface*>(m.lParamValue));
        return true;
    });
    m_vendor->registerForAsyncEvents();
    m_device->setAsyncEventSink(&window, kCompletionMessage);
    const size_t limit = CUSBInterface::kMaxPendingRequests;
    std::vector<std::array<uint8_t, 4>> buffers(limit + 1);
    Completion c;
    for (size_t i = 0; i < limit; ++i)
        QCOMPARE(m_vendor->readPipeAsync(2, buffers[i].data(), 4, &Completion::done, &c),
                 kCVNUsbSuccess);
    Completion refused;
    QCOMPARE(m_vendor->readPipeAsync(2, buffers[limit].data(), 4, &Completion::done, &refused),
             kCVNUsbNoResources);
    for (size_t i = 0; i < limit; ++i)
        m_model->queueIn(0x81, {uint8_t(i)});
    QTRY_COMPARE(c.calls, int(limit));
    QCOMPARE(refused.calls, 0);
    // Room again once they have completed.
    QCOMPARE(m_vendor->readPipeAsync(2, buffers[0].data(), 4, &Completion::done, &c),
             kCVNUsbSuccess);
}

void TestTransfers::destroyingInterfaceCancelsPendingTransfers()
{
    Completion c;
    auto* buffer = new uint8_t[64];
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, 64, &Completion::done, &c), kCVNUsbSuccess);
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, 64, &Completion::done, &c), kCVNUsbSuccess);
    QTRY_COMPARE(m_model->waitingReads(0x81), 2);
    QCOMPARE(bus().pendingTransfers(m_id), 2);
    m_vendor->Release();
    m_vendor = nullptr;
    QCOMPARE(bus().pendingTransfers(m_id), 0);
    delete[] buffer;
    // Data arriving now has nowhere to go (ASan watches the freed buffer).
    m_model->queueIn(0x81, std::vector<uint8_t>(64, 0xEE));
    QCOMPARE(c.calls, 0);
}

void TestTransfers::unplugFailsPendingTransfers()
{
    Completion c;
    uint8_t buffer[8];
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, sizeof buffer, &Completion::done, &c),
             kCVNUsbSuccess);
    CVNUsbEvent event = nullptr;
    uint32_t count = 0;
    QCOMPARE(m_vendor->pendingAsyncEvents(&event, 1, &count), kCVNUsbSuccess);
    bus().unplug(m_id);
    QCOMPARE(m_vendor->completeAsyncRequest(event), kCVNUsbSuccess);
    QCOMPARE(c.calls, 1);
    QCOMPARE(c.status, kCVNUsbError);
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, sizeof buffer, &Completion::done, &c),
             kCVNUsbError);
}

void TestTransfers::transferStartedDuringUnplugFails()
{
    Sim::DeviceIdentity identity;
    identity.vendorId = 0x1234;
    auto model = std::make_shared<UnplugMidRequest>(identity, testConfiguration());
    const Sim::DeviceId id = bus().plug(model);
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector, {0x1234});
    IUSBInterface* vendor = firstInterface(collector.arrivals.at(0), 0xFF);
    QVERIFY(vendor);
    Platform::QtRecipient window([&](const Platform::Message& m, intptr_t*) {
        collector.arrivals[0]->dispatchAsyncEvent(reinterpret_cast<CVNUsbEvent>(m.wParam),
                                                  reinterpret_cast<IUSBInterface*>(m.lParamValue));
        return true;
    });
    QCOMPARE(vendor->registerForAsyncEvents(), kCVNUsbSuccess);
    QCOMPARE(collector.arrivals[0]->setAsyncEventSink(&window, kCompletionMessage), kCVNUsbSuccess);

    model->unplugOnRead = id;
    Completion c;
    uint8_t buffer[8];
    // Started (the bus saw the device before it went), so it must end.
    QCOMPARE(vendor->readPipeAsync(2, buffer, sizeof buffer, &Completion::done, &c),
             kCVNUsbSuccess);
    QTRY_COMPARE(c.calls, 1);
    QCOMPARE(c.status, kCVNUsbError);
    vendor->Release();
    collector.clear();
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestTransfers::asyncEndings_data()
{
    QTest::addColumn<uint>("overstate");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<uint>("status");
    QTest::addColumn<uint>("bytes");
    QTest::newRow("data") << 0u << false << uint(kCVNUsbSuccess) << 4u;
    QTest::newRow("count beyond the request") << 996u << false << uint(kCVNUsbError) << 0u;
    QTest::newRow("cancelled") << 0u << true << uint(kCVNUsbAborted) << 0u;
}

void TestTransfers::asyncEndings()
{
    QFETCH(uint, overstate);
    QFETCH(bool, cancel);
    QFETCH(uint, status);
    QFETCH(uint, bytes);
    Sim::Faults faults;
    faults.overstateAsyncBytes = overstate;
    bus().setFaults(m_id, faults);
    Completion c;
    uint8_t buffer[4] = {};
    const CVNUsbEvent event = startRead(m_vendor, buffer, sizeof buffer, &c);
    QVERIFY(event);
    if (cancel) {
        const DriverConnection* connection = static_cast<CUSBDevice*>(m_device)->connection();
        connection->port->cancel(connection->handle, nullptr);
    } else {
        m_model->queueIn(0x81, {1, 2, 3, 4});
    }
    QCOMPARE(m_vendor->completeAsyncRequest(event), kCVNUsbSuccess);
    QCOMPARE(c.calls, 1);
    QCOMPARE(c.status, status);
    QCOMPARE(c.bytes, bytes);
}

void TestTransfers::asyncStartNotPendingIsRefused()
{
    Sim::Faults faults;
    faults.answerAsyncOk = true;
    bus().setFaults(m_id, faults);
    Completion c;
    uint8_t buffer[4];
    // Only a pending start is ever completed: this one never will be.
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, sizeof buffer, &Completion::done, &c),
             kCVNUsbError);
    CVNUsbEvent event = nullptr;
    uint32_t count = 9;
    QCOMPARE(m_vendor->pendingAsyncEvents(&event, 1, &count), kCVNUsbSuccess);
    QCOMPARE(count, 0u);
    // Destroying the interface has nothing to wait for.
    m_vendor->Release();
    m_vendor = nullptr;
    QCOMPARE(c.calls, 0);
}

void TestTransfers::callbackMayDropTheLastReference()
{
    // The interface ends up holding the device's last reference, and the callback drops it.
    IUSBDevice* device = m_device;
    Platform::QtRecipient window([device](const Platform::Message& m, intptr_t*) {
        device->dispatchAsyncEvent(reinterpret_cast<CVNUsbEvent>(m.wParam),
                                   reinterpret_cast<IUSBInterface*>(m.lParamValue));
        return true;
    });
    QCOMPARE(m_vendor->registerForAsyncEvents(), kCVNUsbSuccess);
    QCOMPARE(device->setAsyncEventSink(&window, kCompletionMessage), kCVNUsbSuccess);
    struct Owner
    {
        IUSBInterface* interface;
        Sim::DeviceId id;
        int handlesDuringCallback = -1;
        static void done(CVNUsbStatus, uint32_t, void* context)
        {
            auto* owner = static_cast<Owner*>(context);
            owner->interface->Release();
            owner->handlesDuringCallback = bus().openHandles(owner->id);
        }
    } owner{m_vendor, m_id};
    uint8_t buffer[4];
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, sizeof buffer, &Owner::done, &owner),
             kCVNUsbSuccess);
    m_vendor = nullptr;
    m_collector.clear();
    CVNUsb_UnregisterDeviceNotifications(m_registration);
    m_registration = nullptr;
    m_device = nullptr;
    QCOMPARE(bus().openHandles(m_id), 1);

    m_model->queueIn(0x81, {1});
    // The device (and its handle) lasts until the dispatch is over, then goes.
    QTRY_COMPARE(owner.handlesDuringCallback, 1);
    QTRY_COMPARE(bus().openHandles(m_id), 0);
}

void TestTransfers::staleCompletionNeverMatchesANewRequest()
{
    std::vector<Platform::Message> messages;
    Platform::QtRecipient window([&](const Platform::Message& m, intptr_t*) {
        messages.push_back(m);
        return true;
    });
    QCOMPARE(m_vendor->registerForAsyncEvents(), kCVNUsbSuccess);
    QCOMPARE(m_device->setAsyncEventSink(&window, kCompletionMessage), kCVNUsbSuccess);
    // Each round: a request ends and its message waits in the queue while its owner completes
    // it another way; the next request is then made, very likely where the first one lay.
    for (int round = 0; round < 4; ++round) {
        Completion first;
        uint8_t buffer[4];
        const CVNUsbEvent stale = startRead(m_vendor, buffer, sizeof buffer, &first);
        QVERIFY(stale);
        m_model->queueIn(0x81, {1});
        QTRY_VERIFY(std::any_of(messages.begin(), messages.end(), [&](const Platform::Message& m) {
            return reinterpret_cast<CVNUsbEvent>(m.wParam) == stale;
        }));
        QCOMPARE(m_vendor->completeAsyncRequest(stale), kCVNUsbSuccess);
        QCOMPARE(first.calls, 1);

        Completion next;
        const CVNUsbEvent current = startRead(m_vendor, buffer, sizeof buffer, &next);
        QVERIFY(current && current != stale);
        // The late message finds nothing: it neither runs the new callback nor waits for it.
        QCOMPARE(m_device->dispatchAsyncEvent(stale, m_vendor), kCVNUsbNotHandled);
        QCOMPARE(next.calls, 0);
        m_model->queueIn(0x81, {2});
        QCOMPARE(m_vendor->completeAsyncRequest(current), kCVNUsbSuccess);
        QCOMPARE(next.calls, 1);
    }
}

void TestTransfers::completionWhosePostFailedIsPostedAgain()
{
    auto* vendor = static_cast<CUSBInterface*>(m_vendor);
    Platform::ThreadRecipient stopped; // takes no work
    QCOMPARE(vendor->setAsyncEventSink(&stopped, kCompletionMessage), kCVNUsbSuccess);
    Completion c;
    uint8_t buffer[4];
    QCOMPARE(m_vendor->readPipeAsync(2, buffer, sizeof buffer, &Completion::done, &c),
             kCVNUsbSuccess);
    m_model->queueIn(0x81, {7});
    QTRY_COMPARE(bus().pendingTransfers(m_id), 0);

    Platform::QtRecipient window([this](const Platform::Message& m, intptr_t*) {
        m_vendor->completeAsyncRequest(reinterpret_cast<CVNUsbEvent>(m.wParam));
        return true;
    });
    QCOMPARE(vendor->setAsyncEventSink(nullptr, 0), kCVNUsbSuccess);
    QCOMPARE(vendor->setAsyncEventSink(&window, kCompletionMessage), kCVNUsbSuccess);
    QTRY_COMPARE(c.calls, 1);
    QCOMPARE(c.bytes, 1u);
    QCOMPARE(vendor->setAsyncEventSink(nullptr, 0), kCVNUsbSuccess);
}

void TestTransfers::unregisteringStopsHandleNotifications()
{
    CountingRecipient window;
    DeviceCollector kept;
    NotificationRegistration* r = registerCollector(&kept, {}, {}, &window);
    QCOMPARE(int(kept.arrivals.size()), 1);
    CVNUsb_UnregisterDeviceNotifications(r);
    // The device is kept past its registration, whose recipient may be gone by now.
    bus().unplug(m_id);
    QCOMPARE(window.posts.load(), 0);
    kept.clear();
}

void TestTransfers::exclusiveOpen()
{
    // A second user of the same device: its own handle.
    DeviceCollector other;
    NotificationRegistration* r = registerCollector(&other);
    IUSBInterface* theirs = firstInterface(other.arrivals.at(0), 0xFF);
    QVERIFY(theirs);
    QCOMPARE(m_vendor->open(), kCVNUsbSuccess);
    QCOMPARE(theirs->open(), kCVNUsbExclusiveAccess);
    QCOMPARE(m_vendor->close(), kCVNUsbSuccess);
    QCOMPARE(theirs->open(), kCVNUsbSuccess);
    // Releasing the interface gives the claim up.
    theirs->Release();
    QCOMPARE(m_vendor->open(), kCVNUsbSuccess);
    other.clear();
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestTransfers::driverOptionIsNotAConfiguration()
{
    QCOMPARE(m_device->setDriverOption(0), kCVNUsbSuccess);
    const auto log = bus().requestLog(m_id);
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(log[0].kind, Sim::LogEntry::DriverOption);
    QCOMPARE(log[0].value, 0u);
}

void TestTransfers::findDescriptor()
{
    const uint8_t* own = m_vendor->findDescriptor(nullptr, 0xFF);
    QVERIFY(own);
    QCOMPARE(own[1], uint8_t(4));
    QCOMPARE(own[5], uint8_t(0xFF));
    const uint8_t* endpoint = m_vendor->findDescriptor(own, 0xFF);
    QVERIFY(endpoint);
    QCOMPARE(endpoint[1], uint8_t(5));
    QVERIFY(!m_vendor->findDescriptor(nullptr, 0x21)); // in the other interface's part

    FindInterfaceRequest match;
    match.bInterfaceClass = 0xFE;
    IUSBInterface* dfu = firstInterface(m_device, 0xFE);
    QVERIFY(dfu);
    const uint8_t* functional = dfu->findClassDescriptor(0x21, 0);
    QVERIFY(functional);
    QCOMPARE(functional[0], uint8_t(9));
    QCOMPARE(functional[2], uint8_t(0x0B));
    QVERIFY(!dfu->findClassDescriptor(0x21, 1));
    QCOMPARE(dfu->findDescriptor(nullptr, 0x21), functional);
    dfu->Release();
    // Read from the driver once for the device's life.
    int reads = 0;
    for (const auto& e : bus().requestLog(m_id))
        reads += e.kind == Sim::LogEntry::Control;
    QCOMPARE(reads, 0);
}

void TestTransfers::configurationReplyFromDriverIsChecked_data()
{
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("returned");
    QTest::newRow("size below the word") << 2u << 2u;
    QTest::newRow("size beyond any descriptor") << 0x20000u << 0x20000u;
    QTest::newRow("second reply short") << 40u << 20u;
}

void TestTransfers::configurationReplyFromDriverIsChecked()
{
    QFETCH(uint, size);
    QFETCH(uint, returned);
    bus().overrideDriverFunction(
        m_id, DriverFunction::kConfigurationDescriptor,
        [=](const std::vector<uint8_t>&, uint8_t* out, uint32_t outSize) -> Platform::IoStatus {
            Platform::ByteWriter(out, outSize).u32(0, size);
            return {true, outSize == 4 ? 4 : returned, 0};
        });
    QVERIFY(!m_vendor->findDescriptor(nullptr, 0xFF));
}

void TestTransfers::malformedDescriptors_data()
{
    QTest::addColumn<QByteArray>("configuration");
    QTest::addColumn<int>("found"); // descriptors of interface 0 the walk gives
    auto make = [](std::vector<uint8_t> body, int totalDelta = 0) {
        std::vector<uint8_t> c = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
        c.insert(c.end(), body.begin(), body.end());
        const int total = int(c.size()) + totalDelta;
        c[2] = uint8_t(total);
        c[3] = uint8_t(total >> 8);
        return QByteArray(reinterpret_cast<const char*>(c.data()), int(c.size()));
    };
    const std::vector<uint8_t> iface = {9, 4, 0, 0, 1, 0xFF, 0, 0, 0};
    auto with = [&](std::vector<uint8_t> tail) {
        std::vector<uint8_t> v = iface;
        v.insert(v.end(), tail.begin(), tail.end());
        return v;
    };
    QTest::newRow("well formed") << make(with({7, 5, 0x81, 2, 0, 2, 0})) << 2;
    QTest::newRow("zero length") << make(with({0, 5, 0x81, 2, 0, 2, 0})) << 1;
    QTest::newRow("length one") << make(with({1, 5, 0x81, 2, 0, 2, 0})) << 1;
    QTest::newRow("runs past the data") << make(with({40, 0x21, 1, 2, 3})) << 1;
    QTest::newRow("runs past wTotalLength") << make(with({7, 5, 0x81, 2, 0, 2, 0}), -3) << 1;
    QTest::newRow("wTotalLength past the data") << make(with({7, 5, 0x81, 2, 0, 2, 0}), 200) << 2;
    QTest::newRow("truncated header") << QByteArray("\x09\x02\x20", 3) << 0;
    QTest::newRow("empty") << QByteArray() << 0;
}

void TestTransfers::malformedDescriptors()
{
    QFETCH(QByteArray, configuration);
    QFETCH(int, found);
    const std::vector<uint8_t> bytes(configuration.begin(), configuration.end());

    // Walked straight, over a copy that is exactly as long as the data.
    auto* copy = new uint8_t[bytes.size() + 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    DescriptorWalk walk(copy, bytes.size());
    int walked = 0;
    for (const uint8_t* d = walk.find(0, nullptr, 0xFF); d; d = walk.find(0, d, 0xFF)) {
        QVERIFY(d >= copy && d + d[0] <= copy + bytes.size());
        ++walked;
    }
    delete[] copy;
    QCOMPARE(walked, found);

    // And through a device that sends it.
    m_model->setConfiguration(bytes);
    DeviceCollector fresh;
    m_collector.clear();
    CVNUsb_UnregisterDeviceNotifications(m_registration);
    m_vendor->Release();
    m_vendor = nullptr;
    m_registration = registerCollector(&m_collector);
    IUSBDevice* device = m_collector.arrivals.at(0);
    FindInterfaceRequest any;
    IUSBInterfaceIterator* iterator = nullptr;
    if (device->createInterfaceIterator(&any, &iterator) == kCVNUsbSuccess) {
        IUSBInterface* interface = nullptr;
        if (iterator->next(&interface)) {
            int seen = 0;
            for (const uint8_t* d = interface->findDescriptor(nullptr, 0xFF); d;
                 d = interface->findDescriptor(d, 0xFF))
                ++seen;
            QCOMPARE(seen, found);
            interface->Release();
        }
        iterator->Release();
    }
}

void TestTransfers::reenumerationGivesNewDeviceOnSamePath()
{
    DeviceCollector watcher;
    NotificationRegistration* r = nullptr;
    Platform::QtRecipient window([&](const Platform::Message& m, intptr_t*) {
        return CVNUsb_HandleDeviceChangeMessage(r, m);
    });
    r = registerCollector(&watcher, {}, {}, &window);
    QCOMPARE(int(watcher.arrivals.size()), 1);
    const std::string path = bus().devicePath(m_id);

    Sim::DeviceId next = bus().reenumerate(m_id);
    QVERIFY(next && next != m_id);
    QCOMPARE(bus().devicePath(next), path);
    QTRY_COMPARE(int(watcher.removals.size()), 1);
    QTRY_COMPARE(int(watcher.arrivals.size()), 2);
    QCOMPARE(watcher.removals[0], watcher.arrivals[0]);
    QVERIFY(watcher.arrivals[1] != watcher.arrivals[0]);
    uint16_t vid = 0;
    QCOMPARE(watcher.arrivals[1]->vendorId(&vid), kCVNUsbSuccess);
    QCOMPARE(watcher.arrivals[0]->vendorId(&vid), kCVNUsbError);
    watcher.clear();
    CVNUsb_UnregisterDeviceNotifications(r);
}

void TestTransfers::deviceLeavingInAnswerToARequestStillAnswersIt()
{
    // Leaves the bus because of the request, as a unit told to detach does: the host still
    // gets the answer, and only then does the unit go.
    const Sim::DeviceId id = m_id;
    m_model->onControl(0x21, 0x00,
                       [id](const Sim::ControlSetup&, const std::vector<uint8_t>&,
                            std::vector<uint8_t>*) {
                           Sim::SimpleUsbDevice::afterAnswer([id] { bus().unplug(id); });
                           return Sim::Usbd::kSuccess;
                       });
    UsbControlRequest request;
    request.bmRequestType = 0x21;
    request.bRequest = 0x00;
    request.timeout = 1000;
    QCOMPARE(m_device->controlTransfer(&request), kCVNUsbSuccess);
    QVERIFY(!m_model->isAttached());
}

QTEST_GUILESS_MAIN(TestTransfers)
#include "tst_transfers.moc"
