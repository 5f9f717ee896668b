#include "forwardingusbdevice.h"
#include "novabench.h"
#include "tests/usb/simdevicefixture.h"

#include "plugins/webview/transport/usbqueryinterface.h"
#include "plugins/webview/transport/usbserialnumber.h"

#include <QtTest>

using namespace CVN::USB;

class TestUsbQuery : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { m_bench.reset(); }

    void valuesComeBackWhole_data();
    void valuesComeBackWhole();
    void capabilitiesAndStatus();
    void keyTravelsWithoutTerminator();
    void descriptorShorterThanTenIsRefused();
    void unitWithoutTheInterface();
    void failedRequestsNameTheirNumber_data();
    void failedRequestsNameTheirNumber();
    void serialNumber_data();
    void serialNumber();
    void repliesEndWhereTheTransferEnded_data();
    void repliesEndWhereTheTransferEnded();

private:
    IUSBDevice* plug(Sim::NovaRecorder::Options options = {})
    {
        m_bench.reset();
        m_bench = std::make_unique<NovaBench>(options);
        return m_bench->device();
    }
    std::unique_ptr<NovaBench> m_bench;
};

void TestUsbQuery::valuesComeBackWhole_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("short") << QByteArray("8.4") << QByteArray("8.4");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("255 characters") << QByteArray(255, 'v') << QByteArray(255, 'v');
    // The unit cannot send more than was asked for: 255 bytes, and the text still ends.
    QTest::newRow("longer than a reply") << QByteArray(300, 'w') << QByteArray(255, 'w');
    QTest::newRow("embedded terminator") << QByteArray("abc\0def", 7) << QByteArray("abc");
}

void TestUsbQuery::valuesComeBackWhole()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, expected);
    IUSBDevice* device = plug();
    QVERIFY(device);
    m_bench->recorder().keyValue().setValue("BuildId", stored.toStdString());
    UsbQueryInterface query(device);
    QCOMPARE(QByteArray::fromStdString(query.query("BuildId")), expected);
    // An unknown key answers empty text.
    QCOMPARE(query.query("NoSuchKey"), std::string());
}

void TestUsbQuery::capabilitiesAndStatus()
{
    Sim::NovaRecorder::Options options;
    options.capabilities = 0xA5000002;
    IUSBDevice* device = plug(options);
    UsbQueryInterface query(device);
    QCOMPARE(query.capabilities(), 0xA5000002u);
    QCOMPARE(query.interfaceNumber(), Sim::NovaRecorder::kKeyValueInterface);
    QCOMPARE(query.getStatus(), Sim::NovaRecorder::kApplicationBootMode);

    options.bootloader = true;
    IUSBDevice* loader = plug(options);
    QVERIFY(loader);
    QCOMPARE(UsbQueryInterface(loader).getStatus(), Sim::NovaRecorder::kBootloaderBootMode);
}

void TestUsbQuery::keyTravelsWithoutTerminator()
{
    IUSBDevice* device = plug();
    UsbQueryInterface query(device);
    m_bench->clearLog();
    query.query("DeviceName");
    query.query("");
    const auto requests = m_bench->classRequests(Sim::NovaRecorder::kKeyValueInterface);
    QCOMPARE(int(requests.size()), 6);
    const uint8_t expectedRequests[] = {1, 2, 3, 1, 2, 3};
    for (size_t i = 0; i < requests.size(); ++i) {
        QCOMPARE(requests[i].setup.request, expectedRequests[i]);
        QCOMPARE(requests[i].setup.index, uint16_t(Sim::NovaRecorder::kKeyValueInterface));
    }
    QCOMPARE(requests[1].setup.requestType, uint8_t(0x21));
    QCOMPARE(requests[1].data,
             std::vector<uint8_t>({'D', 'e', 'v', 'i', 'c', 'e', 'N', 'a', 'm', 'e'}));
    // The handle from request 1 names the key and the value.
    QCOMPARE(requests[2].setup.value, requests[1].setup.value);
    QCOMPARE(requests[2].setup.length, uint16_t(255));
    QCOMPARE(requests[4].setup.length, uint16_t(0));
    QVERIFY(requests[4].data.empty());
    QCOMPARE(m_bench->recorder().keyValue().keysAsked(),
             std::vector<std::string>({"DeviceName", ""}));
}

void TestUsbQuery::descriptorShorterThanTenIsRefused()
{
    auto recorder = std::make_shared<Sim::NovaRecorder>();
    Sim::NovaRecorder::Faults faults;
    faults.keyValueDescriptorLength = 9;
    recorder->setFaults(faults);
    m_bench = std::make_unique<NovaBench>(recorder);
    IUSBDevice* device = m_bench->device();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, UsbQueryInterface{device});
    try {
        UsbQueryInterface query(device);
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Unable to find associated functional descriptor");
    }
}

void TestUsbQuery::unitWithoutTheInterface()
{
    Sim::DeviceIdentity identity;
    identity.vendorId = 0x2C4A;
    identity.productId = 0xBE76;
    Sim::UsbBus::instance().plug(std::make_shared<Sim::SimpleUsbDevice>(
        identity, Sim::ConfigurationBuilder().interface(0, 0, 0xFF, 2, 0).build()));
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    QCOMPARE(int(collector.arrivals.size()), 1);
    try {
        UsbQueryInterface query(collector.arrivals[0]);
        QFAIL("made a query interface without the interface");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Unable to find interface");
    }
    CVNUsb_UnregisterDeviceNotifications(r);
    Sim::UsbBus::instance().reset();
}

void TestUsbQuery::failedRequestsNameTheirNumber_data()
{
    QTest::addColumn<int>("stall");
    QTest::addColumn<QString>("message");
    // Requests after construction: 1 handle, 2 key, 3 value.
    QTest::newRow("handle") << 1 << "Failed to send get request 1";
    QTest::newRow("key") << 2 << "Failed to send set request 2";
    QTest::newRow("value") << 3 << "Failed to send get request 3";
}

void TestUsbQuery::failedRequestsNameTheirNumber()
{
    QFETCH(int, stall);
    QFETCH(QString, message);
    IUSBDevice* device = plug();
    UsbQueryInterface query(device);
    Sim::Faults faults;
    faults.stallRequest = stall;
    m_bench->setBusFaults(faults);
    try {
        query.query("BuildId");
        QFAIL("a stalled request went unnoticed");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
    // The unit answers again afterwards.
    QCOMPARE(query.query("ReleaseVersion"), std::string("8.4"));
}

void TestUsbQuery::serialNumber_data()
{
    QTest::addColumn<QString>("serial");
    QTest::newRow("usual") << "NV1234ABCD";
    QTest::newRow("one character") << "X";
    QTest::newRow("longest string") << QString(126, 'S');
}

void TestUsbQuery::serialNumber()
{
    QFETCH(QString, serial);
    Sim::NovaRecorder::Options options;
    options.serial = serial.toStdString();
    IUSBDevice* device = plug(options);
    QCOMPARE(QString::fromStdWString(::serialNumber(device)), serial);

    const auto log = m_bench->log();
    QVERIFY(!log.empty());
    const Sim::ControlSetup& get = log.back().setup;
    QCOMPARE(get.requestType, uint8_t(0x80));
    QCOMPARE(get.request, uint8_t(6));
    QCOMPARE(get.value, uint16_t(0x0300 | Sim::NovaRecorder::kSerialIndex));
    QCOMPARE(get.index, uint16_t(0x0409));
    QCOMPARE(get.length, uint16_t(256));

    Sim::Faults faults;
    faults.stallRequest = 1;
    m_bench->setBusFaults(faults);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ::serialNumber(device));
}

void TestUsbQuery::repliesEndWhereTheTransferEnded_data()
{
    QTest::addColumn<int>("moved");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("serial");
    // A string descriptor's length byte claims more than arrived: only what arrived counts.
    QTest::newRow("eight bytes") << 8 << "Kestrel "
                                 << "NV1";
    QTest::newRow("one byte") << 1 << "K"
                              << "";
    QTest::newRow("nothing") << 0 << ""
                             << "";
}

void TestUsbQuery::repliesEndWhereTheTransferEnded()
{
    QFETCH(int, moved);
    QFETCH(QString, value);
    QFETCH(QString, serial);
    IUSBDevice* device = plug();
    m_bench->recorder().keyValue().setValue("DeviceName", "Kestrel Alder One");
    // A layer that moved fewer bytes than were asked for: whatever lies past them in the
    // buffer is not part of the reply.
    auto* shortened = new ForwardingUsbDevice(
        device, [moved](UsbControlRequest* request, const std::function<CVNUsbStatus()>& transfer) {
            const CVNUsbStatus status = transfer();
            if (status == kCVNUsbSuccess && (request->bmRequestType & 0x80) && request->wLength > 4)
                request->transferred = uint32_t(moved);
            return status;
        });
    {
        UsbQueryInterface query(shortened);
        QCOMPARE(QString::fromStdString(query.query("DeviceName")), value);
    }
    QCOMPARE(QString::fromStdWString(::serialNumber(shortened)), serial);
    shortened->Release();
}

QTEST_GUILESS_MAIN(TestUsbQuery)
#include "tst_usbquery.moc"
