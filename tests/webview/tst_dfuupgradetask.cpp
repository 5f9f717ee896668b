#include "firmwarefolder.h"
#include "groupingfamily.h"
#include "novabench.h"
#include "plugins/webview/dfuupgradetask.h"
#include "plugins/webview/getfirmware.h"
#include "plugins/webview/usbconnectionmanager.h"
#include "plugins/webview/usbpotentialdevice.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int kWaitMs = 15000;
constexpr uint16_t kProductId = 0xBE1D;

// The Alder record with short waits, so a recorder that never comes back fails quickly.
ProductTable shortTable(int64_t arrivalSeconds = 2, int64_t installSeconds = 2)
{
    ProductTable table;
    ProductRecord record = supportedProducts().at(kProductId);
    record.arrivalTimeoutSeconds = arrivalSeconds;
    record.installSeconds = installSeconds;
    table[kProductId] = record;
    return table;
}

std::shared_ptr<UsbConnectionManager> usbManager(GroupingFamily* family, ProductTable table)
{
    return std::make_shared<UsbConnectionManager>(
        family, std::move(table), nullptr, nullptr,
        [](std::shared_ptr<UsbConnectionManager> manager, CVN::USB::IUSBDevice* device) {
            return UsbPotentialDevice::create<UsbPotentialDevice>(manager, device);
        },
        nullptr);
}

// The plug-in's USB side once it has found the simulated recorder on the bus.
struct UsbSide
{
    explicit UsbSide(ProductTable table)
        : manager(usbManager(&family, std::move(table)))
    {
        manager->start();
        found = QTest::qWaitFor([this] { return family.added == 1; }, kWaitMs);
    }
    std::shared_ptr<UsbPotentialDevice> device() const
    {
        return manager->findByUniqueId("nv1234abcd");
    }

    GroupingFamily family;
    std::shared_ptr<UsbConnectionManager> manager;
    bool found = false;
};

// Collects the task's reports on the test's thread, as a dialog would get them.
struct Reports : QObject
{
    explicit Reports(DeviceFirmwareUpdater* task)
    {
        connect(task, &DeviceFirmwareUpdater::firmwareUpdated, this,
                [this](int status) { statuses.push_back(status); });
        connect(task, &DeviceFirmwareUpdater::firmwareUpdateProgress, this,
                [this](int percent) { progress.push_back(percent); });
    }
    // Starts the task and waits for its one result.
    bool run(DeviceFirmwareUpdater* task)
    {
        task->start();
        return QTest::qWaitFor([this] { return !statuses.empty(); }, kWaitMs) &&
               statuses.size() == 1;
    }
    std::vector<int> statuses;
    std::vector<int> progress;
};

// Pulls the recorder off the bus once the first block went down.
class UnpluggingTask : public DfuUpgradeTask
{
public:
    UnpluggingTask(const std::shared_ptr<UsbConnectionManager>& manager,
                   std::shared_ptr<UsbPotentialDevice> device, Sim::DeviceId id)
        : DfuUpgradeTask(manager, std::move(device))
        , m_id(id)
    {
    }

protected:
    void download(DFUInterface& dfu, const QString& fileName, uint16_t productId,
                  const DownloadProgress& progress) override
    {
        DfuUpgradeTask::download(dfu, fileName, productId, [&](uint64_t sent, uint64_t total) {
            if (!m_unplugged) {
                m_unplugged = true;
                Sim::UsbBus::instance().unplug(m_id);
            }
            progress(sent, total);
        });
    }

private:
    Sim::DeviceId m_id;
    bool m_unplugged = false;
};

} // namespace

class TestDfuUpgradeTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void getFirmwareReadsTheProductsEntry();
    void getFirmwareFailures_data();
    void getFirmwareFailures();
    void updatesInBlocksOfTheTransferSize_data();
    void updatesInBlocksOfTheTransferSize();
    void failsAtEachStep_data();
    void failsAtEachStep();
    void unplugDuringDownloadFails();
    void destroyedDuringWaitEndsPromptly();
};

void TestDfuUpgradeTask::getFirmwareReadsTheProductsEntry()
{
    FirmwareFolder folder;
    const QByteArray image = FirmwareFolder::pattern(5000);
    QVERIFY(folder.write("data-be1d.bin", kProductId, image));
    QCOMPARE(getFirmware("data-be1d.bin", kProductId), image);
}

void TestDfuUpgradeTask::getFirmwareFailures_data()
{
    QTest::addColumn<int>("imageSize");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("message");
    QTest::newRow("no entry for the product") << 100 << "other.bin"
                                              << "GetFirmware: No resources found.";
    QTest::newRow("no file") << 100 << "missing.bin"
                             << "GetFirmware: Unable to unpack resource. Error code: 3";
    // The package reader refuses a package without bytes before any payload is handed out.
    QTest::newRow("empty payload") << 0 << "data-be1d.bin"
                                   << "GetFirmware: Unable to unpack resource. Error code: 7";
}

void TestDfuUpgradeTask::getFirmwareFailures()
{
    QFETCH(int, imageSize);
    QFETCH(QString, fileName);
    QFETCH(QString, message);
    FirmwareFolder folder;
    QVERIFY(folder.write("data-be1d.bin", kProductId, FirmwareFolder::pattern(imageSize)));
    QVERIFY(folder.write("other.bin", 0xBE76, FirmwareFolder::pattern(100)));
    try {
        getFirmware(fileName, kProductId);
        QFAIL("no error");
    } catch (const std::runtime_error& error) {
        QCOMPARE(QString(error.what()), message);
    }
}

void TestDfuUpgradeTask::updatesInBlocksOfTheTransferSize_data()
{
    QTest::addColumn<bool>("bootloader");
    QTest::addColumn<int>("size");
    QTest::addColumn<std::vector<uint32_t>>("blocks");
    QTest::newRow("from the application")
        << false << 10000 << std::vector<uint32_t>{4096, 4096, 1808};
    QTest::newRow("already in the boot loader")
        << true << 8192 << std::vector<uint32_t>{4096, 4096};
}

void TestDfuUpgradeTask::updatesInBlocksOfTheTransferSize()
{
    QFETCH(bool, bootloader);
    QFETCH(int, size);
    QFETCH(std::vector<uint32_t>, blocks);
    FirmwareFolder folder;
    const QByteArray image = FirmwareFolder::pattern(size);
    QVERIFY(folder.write("data-be1d.bin", kProductId, image));
    Sim::NovaRecorder::Options options;
    options.bootloader = bootloader;
    NovaBench bench(options);
    UsbSide usb(shortTable(5, 10));
    QVERIFY(usb.found);

    auto task = std::make_unique<DfuUpgradeTask>(usb.manager, usb.device());
    Reports reports(task.get());
    QVERIFY(reports.run(task.get()));
    QCOMPARE(reports.statuses.front(), 0);
    QVERIFY(task->checkDevice());
    QCOMPARE(bench.recorder().dfu().blockSizes(), blocks);
    const auto installed = bench.recorder().dfu().installedImage();
    QVERIFY(QByteArray(reinterpret_cast<const char*>(installed.data()),
                       qsizetype(installed.size())) == image);
    QVERIFY(!bench.recorder().isBootloader());
    // Busy while the unit changes into its loader, then the download's half, then done.
    const bool sawBusy =
        std::find(reports.progress.begin(), reports.progress.end(), -1) != reports.progress.end();
    QCOMPARE(sawBusy, !bootloader);
    QVERIFY(std::find(reports.progress.begin(), reports.progress.end(), 50) !=
            reports.progress.end());
    QCOMPARE(reports.progress.back(), 100);
}

void TestDfuUpgradeTask::failsAtEachStep_data()
{
    QTest::addColumn<bool>("bootloader");
    QTest::addColumn<bool>("neverComesBack");
    QTest::addColumn<bool>("packageMissing");
    QTest::addColumn<int>("errorAtBlock");
    QTest::addColumn<int>("installs");
    // Never back from the detach; never back after the download; no package; a block fails.
    QTest::newRow("gone after detach") << false << true << false << -1 << 0;
    QTest::newRow("gone after download") << true << true << false << -1 << 1;
    QTest::newRow("package missing") << true << false << true << -1 << 0;
    QTest::newRow("block refused") << true << false << false << 1 << 0;
}

void TestDfuUpgradeTask::failsAtEachStep()
{
    QFETCH(bool, bootloader);
    QFETCH(bool, neverComesBack);
    QFETCH(bool, packageMissing);
    QFETCH(int, errorAtBlock);
    QFETCH(int, installs);
    FirmwareFolder folder;
    if (!packageMissing)
        QVERIFY(folder.write("data-be1d.bin", kProductId, FirmwareFolder::pattern(9000)));
    Sim::NovaRecorder::Options options;
    options.bootloader = bootloader;
    auto recorder = std::make_shared<Sim::NovaRecorder>(options);
    Sim::NovaRecorder::Faults faults;
    faults.neverComesBack = neverComesBack;
    faults.dfu.errorAtBlock = errorAtBlock;
    recorder->setFaults(faults);
    NovaBench bench(recorder);
    UsbSide usb(shortTable(1, 1));
    QVERIFY(usb.found);

    auto task = std::make_unique<DfuUpgradeTask>(usb.manager, usb.device());
    Reports reports(task.get());
    QVERIFY(reports.run(task.get()));
    QCOMPARE(reports.statuses.front(), 1);
    QVERIFY(!task->checkDevice());
    QCOMPARE(recorder->dfu().installs(), installs);
    QVERIFY(reports.progress.empty() || reports.progress.back() != 100);
}

void TestDfuUpgradeTask::unplugDuringDownloadFails()
{
    FirmwareFolder folder;
    QVERIFY(folder.write("data-be1d.bin", kProductId, FirmwareFolder::pattern(20000)));
    Sim::NovaRecorder::Options options;
    options.bootloader = true;
    NovaBench bench(options);
    UsbSide usb(shortTable(1, 1));
    QVERIFY(usb.found);

    auto task = std::make_unique<UnpluggingTask>(usb.manager, usb.device(), bench.id());
    Reports reports(task.get());
    QVERIFY(reports.run(task.get()));
    QCOMPARE(reports.statuses.front(), 1);
    QCOMPARE(bench.recorder().dfu().installs(), 0);
}

void TestDfuUpgradeTask::destroyedDuringWaitEndsPromptly()
{
    FirmwareFolder folder;
    QVERIFY(folder.write("data-be1d.bin", kProductId, FirmwareFolder::pattern(1000)));
    NovaBench bench;
    UsbSide usb(shortTable(600, 600));
    QVERIFY(usb.found);
    const auto device = usb.device();
    QVERIFY(Sim::UsbBus::instance().unplug(bench.id()));
    // The unit has left: the task waits for it for ten minutes.
    QTRY_COMPARE_WITH_TIMEOUT(usb.family.removed, 1, kWaitMs);
    auto task = std::make_unique<DfuUpgradeTask>(usb.manager, device);
    std::vector<int> statuses;
    connect(
        task.get(), &DeviceFirmwareUpdater::firmwareUpdated, task.get(),
        [&statuses](int status) { statuses.push_back(status); }, Qt::DirectConnection);
    task->start();
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    task.reset();
    // Far below the wait; a worker that ignored the flag would block here for minutes.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(statuses, std::vector<int>{1});
}

QTEST_MAIN(TestDfuUpgradeTask)
#include "tst_dfuupgradetask.moc"
