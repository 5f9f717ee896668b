#include "novabench.h"

#include "plugins/webview/transport/dfuinterface.h"
#include "plugins/webview/transport/polltimer.h"
#include "plugins/webview/transport/usbcontrolrequestbuilder.h"
#include "plugins/webview/transport/usbqueryinterface.h"
#include "plugins/webview/transport/usbserialnumber.h"
#include "tests/usb/xmegatestsupport.h"

#include <QtTest>

#include <system_error>

using namespace CVN::USB;
using Sim::NovaDfuFunction;

Q_DECLARE_METATYPE(std::vector<uint32_t>)

namespace {

std::vector<uint8_t> image(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 31 + (i >> 8) + 1);
    return bytes;
}

// A clock that raises a cancel flag once this much time has been slept.
class CancellingClock : public ManualClock
{
public:
    CancellingClock(std::atomic<bool>* flag, uint64_t afterMs)
        : m_flag(flag)
        , m_afterMs(afterMs)
    {
    }
    void sleep(uint32_t ms) override
    {
        ManualClock::sleep(ms);
        if (sleptMs() >= m_afterMs)
            *m_flag = true;
    }

private:
    std::atomic<bool>* m_flag;
    uint64_t m_afterMs;
};

Sim::NovaRecorder::Options bootloader(uint16_t transferSize = 256, uint8_t attributes = 0x0D)
{
    Sim::NovaRecorder::Options options;
    options.bootloader = true;
    options.dfu.transferSize = transferSize;
    options.dfu.attributes = attributes;
    return options;
}

} // namespace

class TestUsbDfu : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void downloadGoesInBlocksOfTheTransferSize_data();
    void downloadGoesInBlocksOfTheTransferSize();
    void functionalDescriptorIsRead();
    void enterIdleBringsTheLoaderToIdle_data();
    void enterIdleBringsTheLoaderToIdle();
    void detachFromTheApplication_data();
    void detachFromTheApplication();
    void wholeUpdateFromTheApplication();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();
    void finalBlockFailureIsATimeOut();
    void shortFunctionalDescriptorIsRefused();
    void zeroTransferSizeIsRefused();
    void pollPausesAreCapped();
    void cancelEndsTheWait();

private:
    std::unique_ptr<DFUInterface> open(Sim::NovaRecorder::Options options,
                                       Sim::NovaRecorder::Faults faults = {});
    // A class request to the loader's DFU interface, outside the DFU interface under test.
    CVNUsbStatus rawRequest(bool in, uint8_t request, uint16_t value, std::vector<uint8_t> data);
    // The DFU requests with this bRequest since the last clear, as the unit saw them.
    std::vector<Sim::ControlSetup> dfuRequests(uint8_t request) const;

    std::unique_ptr<NovaBench> m_bench;
    std::shared_ptr<ManualClock> m_clock;
    IUSBDevice* m_device = nullptr;
};

void TestUsbDfu::cleanup()
{
    m_bench.reset();
}

std::unique_ptr<DFUInterface> TestUsbDfu::open(Sim::NovaRecorder::Options options,
                                               Sim::NovaRecorder::Faults faults)
{
    m_bench.reset();
    auto recorder = std::make_shared<Sim::NovaRecorder>(options);
    recorder->setFaults(faults);
    m_bench = std::make_unique<NovaBench>(recorder);
    m_device = m_bench->device();
    if (!m_device)
        return nullptr;
    auto dfu = std::make_unique<DFUInterface>(m_device);
    m_clock = std::make_shared<ManualClock>();
    dfu->setClock(m_clock);
    return dfu;
}

CVNUsbStatus TestUsbDfu::rawRequest(bool in, uint8_t request, uint16_t value,
                                    std::vector<uint8_t> data)
{
    return WebViewUsb::sendInterfaceRequest(
        m_device, in ? WebViewUsb::Direction::In : WebViewUsb::Direction::Out,
        m_bench->recorder().dfuInterface(), request, value, data.data(), uint16_t(data.size()),
        1000);
}

std::vector<Sim::ControlSetup> TestUsbDfu::dfuRequests(uint8_t request) const
{
    std::vector<Sim::ControlSetup> out;
    for (const auto& setup : m_bench->recorder().dfu().requests())
        if (setup.request == request)
            out.push_back(setup);
    return out;
}

void TestUsbDfu::downloadGoesInBlocksOfTheTransferSize_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("transferSize");
    QTest::addColumn<std::vector<uint32_t>>("blocks");
    QTest::newRow("1000 by 256") << 1000 << 256 << std::vector<uint32_t>{256, 256, 256, 232};
    QTest::newRow("whole blocks") << 512 << 256 << std::vector<uint32_t>{256, 256};
    QTest::newRow("one byte") << 1 << 4096 << std::vector<uint32_t>{1};
    QTest::newRow("odd transfer size") << 100 << 33 << std::vector<uint32_t>{33, 33, 33, 1};
}

void TestUsbDfu::downloadGoesInBlocksOfTheTransferSize()
{
    QFETCH(int, size);
    QFETCH(int, transferSize);
    QFETCH(std::vector<uint32_t>, blocks);
    auto dfu = open(bootloader(uint16_t(transferSize)));
    QVERIFY(dfu);
    QCOMPARE(dfu->transferSize(), uint16_t(transferSize));
    QVERIFY(dfu->enterIdle());
    m_bench->recorder().dfu().clearRequests();
    const Sim::DeviceId before = m_bench->id();
    const std::vector<uint8_t> bytes = image(size_t(size));
    std::vector<std::pair<uint64_t, uint64_t>> progress;
    dfu->download(bytes,
                  [&](uint64_t sent, uint64_t total) { progress.emplace_back(sent, total); });

    const auto dnloads = dfuRequests(1);
    QCOMPARE(dnloads.size(), blocks.size() + 1);
    uint64_t sent = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        QCOMPARE(dnloads[i].requestType, uint8_t(0x21));
        QCOMPARE(dnloads[i].value, uint16_t(i));
        QCOMPARE(uint32_t(dnloads[i].length), blocks[i]);
        sent += blocks[i];
        QCOMPARE(progress.at(i), std::make_pair(sent, uint64_t(size)));
    }
    // The empty block that ends the download carries the next number.
    QCOMPARE(dnloads.back().value, uint16_t(blocks.size()));
    QCOMPARE(dnloads.back().length, uint16_t(0));
    QCOMPARE(m_bench->recorder().dfu().blockSizes(), blocks);

    // Manifested, the unit waited for its reset and came back with the image.
    QVERIFY(m_bench->waitForReenumeration(before));
    QVERIFY(!m_bench->recorder().isBootloader());
    QVERIFY(m_bench->recorder().dfu().installedImage() == bytes);
}

void TestUsbDfu::functionalDescriptorIsRead()
{
    Sim::NovaRecorder::Options options = bootloader(1024, 0x0B);
    options.dfu.detachTimeoutMs = 2500;
    auto dfu = open(options);
    QVERIFY(dfu);
    const DfuFunctionalDescriptor& d = dfu->functionalDescriptor();
    QVERIFY(d.willDetach);
    QVERIFY(!d.manifestationTolerant);
    QVERIFY(d.canUpload);
    QVERIFY(d.canDownload);
    QCOMPARE(d.detachTimeoutMs, uint16_t(2500));
    QCOMPARE(d.transferSize, uint16_t(1024));
    QCOMPARE(d.dfuVersion, uint16_t(0x0110));
    QCOMPARE(dfu->interfaceNumber(), uint16_t(1));
}

void TestUsbDfu::enterIdleBringsTheLoaderToIdle_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("fix");
    QTest::newRow("idle") << "idle" << -1;
    QTest::newRow("download idle: abort") << "dnload" << 6;
    QTest::newRow("error: clear status") << "error" << 4;
}

void TestUsbDfu::enterIdleBringsTheLoaderToIdle()
{
    QFETCH(QString, start);
    QFETCH(int, fix);
    auto dfu = open(bootloader());
    QVERIFY(dfu);
    std::vector<uint8_t> status(6);
    if (start == "dnload") {
        QCOMPARE(rawRequest(false, 1, 0, image(16)), kCVNUsbSuccess);
        QCOMPARE(rawRequest(true, 3, 0, status), kCVNUsbSuccess);
        QCOMPARE(m_bench->recorder().dfu().state(), NovaDfuFunction::kDnloadIdle);
    } else if (start == "error") {
        // Block 5 before block 0: the loader refuses the sequence.
        QCOMPARE(rawRequest(false, 1, 5, image(16)), kCVNUsbSuccess);
        QCOMPARE(m_bench->recorder().dfu().state(), NovaDfuFunction::kDfuError);
    }
    m_bench->recorder().dfu().clearRequests();
    QVERIFY(dfu->enterIdle());
    QCOMPARE(m_bench->recorder().dfu().state(), NovaDfuFunction::kDfuIdle);
    const auto requests = m_bench->recorder().dfu().requests();
    QCOMPARE(int(requests.size()), fix < 0 ? 2 : 3);
    if (fix >= 0)
        QCOMPARE(requests[1].request, uint8_t(fix));
}

void TestUsbDfu::detachFromTheApplication_data()
{
    QTest::addColumn<bool>("willDetach");
    QTest::newRow("detaches by itself") << true;
    QTest::newRow("needs a reset") << false;
}

void TestUsbDfu::detachFromTheApplication()
{
    QFETCH(bool, willDetach);
    Sim::NovaRecorder::Options options;
    options.dfu.attributes = willDetach ? 0x0D : 0x05;
    options.dfu.detachTimeoutMs = 1500;
    auto dfu = open(options);
    QVERIFY(dfu);
    const Sim::DeviceId before = m_bench->id();
    const std::wstring serial = serialNumber(m_device);
    QVERIFY(!dfu->enterIdle());
    const auto detach = dfuRequests(0);
    QCOMPARE(int(detach.size()), 1);
    QCOMPARE(detach[0].value, uint16_t(1000));
    QCOMPARE(m_bench->recorder().dfu().resets(), willDetach ? 0 : 1);

    QVERIFY(m_bench->waitForReenumeration(before));
    QVERIFY(m_bench->recorder().isBootloader());
    IUSBDevice* loader = m_bench->device();
    QVERIFY(loader);
    QCOMPARE(serialNumber(loader), serial);
    QCOMPARE(UsbQueryInterface(loader).getStatus(), Sim::NovaRecorder::kBootloaderBootMode);
    QVERIFY(DFUInterface(loader).enterIdle());
}

void TestUsbDfu::wholeUpdateFromTheApplication()
{
    Sim::NovaRecorder::Options options;
    options.dfu.transferSize = 4096;
    auto dfu = open(options);
    QVERIFY(dfu);
    Sim::DeviceId id = m_bench->id();
    QVERIFY(!dfu->enterIdle());
    dfu.reset();
    QVERIFY(m_bench->waitForReenumeration(id));
    id = m_bench->id();

    DFUInterface loader(m_bench->device());
    QVERIFY(loader.enterIdle());
    const std::vector<uint8_t> bytes = image(100000);
    loader.download(bytes);
    QVERIFY(m_bench->waitForReenumeration(id));
    IUSBDevice* application = m_bench->device();
    QVERIFY(application);
    QCOMPARE(UsbQueryInterface(application).getStatus(), Sim::NovaRecorder::kApplicationBootMode);
    QVERIFY(m_bench->recorder().dfu().installedImage() == bytes);
    QCOMPARE(m_bench->recorder().dfu().installs(), 1);
    QCOMPARE(m_bench->recorder().reenumerations(), 2);
}

void TestUsbDfu::failuresNameTheirCause_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("stall");
    QTest::addColumn<QString>("message");
    // Requests of the download: GETSTATUS, then DNLOAD and GETSTATUS per block.
    QTest::newRow("block ends in error")
        << "errorAtBlock" << 0 << "Device returned error from dnload request!\n";
    QTest::newRow("block status not OK")
        << "statusErrorAtBlock" << 0 << "Device returned error during download!\n";
    QTest::newRow("manifestation fails")
        << "errorInManifest" << 0 << "Device returned error during manifestation!\n";
    QTest::newRow("block never finishes")
        << "stuckBusy" << 0 << "Device did not finish the download block in time\n";
    QTest::newRow("first status stalls") << "" << 1 << "Failed to send status request\n";
    QTest::newRow("block stalls") << "" << 4 << "Failed to send dnload request\n";
    QTest::newRow("block status stalls") << "" << 5 << "Failed to send status request\n";
    QTest::newRow("loader not idle") << "notIdle" << 0 << "Device not in DFU idle mode!\n";
}

void TestUsbDfu::failuresNameTheirCause()
{
    QFETCH(QString, fault);
    QFETCH(int, stall);
    QFETCH(QString, message);
    Sim::NovaRecorder::Faults faults;
    faults.dfu.errorAtBlock = fault == "errorAtBlock" ? 1 : -1;
    faults.dfu.statusErrorAtBlock = fault == "statusErrorAtBlock" ? 2 : -1;
    faults.dfu.errorInManifest = fault == "errorInManifest";
    faults.dfu.stuckBusy = fault == "stuckBusy";
    faults.dfu.pollTimeoutMs = 50;
    auto dfu = open(bootloader(), faults);
    QVERIFY(dfu);
    if (fault == "notIdle")
        QCOMPARE(rawRequest(false, 1, 0, image(8)), kCVNUsbSuccess);
    Sim::Faults bus;
    bus.stallRequest = stall;
    m_bench->setBusFaults(bus);
    try {
        dfu->download(image(1000));
        QFAIL("the download went through");
    } catch (const std::system_error& e) {
        QFAIL(e.what());
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
    if (fault == "stuckBusy") {
        QVERIFY(m_clock->sleptMs() >= DFUInterface::kBlockPollLimitMs);
        QVERIFY(m_clock->sleptMs() <= DFUInterface::kBlockPollLimitMs + 50);
    }
    QCOMPARE(m_bench->recorder().dfu().installs(), 0);
}

void TestUsbDfu::finalBlockFailureIsATimeOut()
{
    auto dfu = open(bootloader());
    QVERIFY(dfu);
    Sim::Faults bus;
    bus.stallRequest = 1 + 2 * 4 + 1; // status, four blocks with their status, the empty block
    m_bench->setBusFaults(bus);
    try {
        dfu->download(image(1000));
        QFAIL("the download went through");
    } catch (const std::system_error& e) {
        QVERIFY(e.code() == std::errc::timed_out);
    }
}

void TestUsbDfu::shortFunctionalDescriptorIsRefused()
{
    m_bench.reset();
    auto recorder = std::make_shared<Sim::NovaRecorder>(bootloader());
    Sim::NovaRecorder::Faults faults;
    faults.dfu.descriptorLength = 7;
    recorder->setFaults(faults);
    m_bench = std::make_unique<NovaBench>(recorder);
    IUSBDevice* device = m_bench->device();
    QVERIFY(device);
    try {
        DFUInterface dfu(device);
        QFAIL("a 7-byte functional descriptor was taken");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Unable to find associated functional descriptor");
    }
}

void TestUsbDfu::zeroTransferSizeIsRefused()
{
    // Blocks of 0 bytes would never end the download.
    auto dfu = open(bootloader(0));
    QVERIFY(dfu);
    try {
        dfu->download(image(10));
        QFAIL("a download in blocks of 0 bytes");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "Device reports a transfer size of 0\n");
    }
    QVERIFY(dfuRequests(1).empty());
}

void TestUsbDfu::pollPausesAreCapped()
{
    // A unit that asks for hours between polls is polled every kMaxPollPauseMs.
    Sim::NovaRecorder::Faults faults;
    faults.dfu.pollTimeoutMs = 0xFFFFFF;
    faults.dfu.busyPolls = 3;
    auto dfu = open(bootloader(), faults);
    QVERIFY(dfu);
    dfu->download(image(200));
    // Three busy polls after the block and one in the manifestation.
    QCOMPARE(m_clock->sleeps(), 4);
    QCOMPARE(m_clock->sleptMs(), uint64_t(4 * DFUInterface::kMaxPollPauseMs));
    QCOMPARE(m_bench->recorder().dfu().installs(), 1);
}

void TestUsbDfu::cancelEndsTheWait()
{
    Sim::NovaRecorder::Faults faults;
    faults.dfu.pollTimeoutMs = 0xFFFFFF;
    faults.dfu.stuckBusy = true;
    auto dfu = open(bootloader(), faults);
    QVERIFY(dfu);
    std::atomic<bool> cancelled{false};
    auto clock = std::make_shared<CancellingClock>(&cancelled, 1000);
    dfu->setClock(clock);
    dfu->setCancelFlag(&cancelled);
    try {
        dfu->download(image(1000));
        QFAIL("the download went through");
    } catch (const std::runtime_error& e) {
        QCOMPARE(e.what(), "DFU transfer cancelled\n");
    }
    // Seen within one slice of the long pause.
    QVERIFY(clock->sleptMs() <= 1000 + WebViewUsb::PollTimer::kCancelSliceMs);
    // A flag raised before a download stops it before its first block.
    m_bench->recorder().dfu().clearRequests();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, dfu->download(image(10)));
    QVERIFY(dfuRequests(1).empty());
}

QTEST_GUILESS_MAIN(TestUsbDfu)
#include "tst_usbdfu.moc"
