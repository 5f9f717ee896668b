#include "recorderwatch.h"
#include "tests/usb/fx2fixture.h"

#include "platform/qtrecipient.h"
#include "plugins/recorder/connectionprobe.h"
#include "plugins/recorder/ikestrelnotificationdelegate.h"
#include "plugins/recorder/kestrelfx2usbdevice.h"
#include "plugins/recorder/kestrelfx2usbnotifier.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"
#include "plugins/recorder/kestrelxmegastreamingusbnotifier.h"
#include "plugins/recorder/kestrelxmegausbdevice.h"
#include "plugins/recorder/kestrelxmegausbnotifier.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/recorder/streamingrecorder.h"
#include "sim/recorder/xmegamailboxrecorder.h"
#include "usb/rpc/vornosrpcexception.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace CVN::DiskRecorder;

namespace {

Sim::UsbBus& bus()
{
    return Sim::UsbBus::instance();
}

std::vector<uint8_t> ramImage(uint32_t seed)
{
    return concat({fx2Record(0x0000, patternBytes(48, seed)),
                   fx2Record(0x1000, patternBytes(16, seed + 1)), fx2EndRecord()});
}

Fx2RamImageTable imageTable()
{
    return Fx2RamImageTable({{0xC34D, ramImage(1)}, {0xC3A3, ramImage(2)}});
}

// The records' data as the controller's RAM took them, CPU-reset writes left out.
std::vector<std::vector<uint8_t>> loadedRecords(const Sim::Fx2Device& model)
{
    std::vector<std::vector<uint8_t>> out;
    for (const auto& write : model.ramWrites()) {
        if (write.address != CVN::USB::AbstractUSBDevice::kCpucs)
            out.push_back(write.data);
    }
    return out;
}

std::shared_ptr<Sim::XmegaMailboxRecorder> mailboxRecorder(bool bootloader = false)
{
    auto options = Sim::XmegaMailboxRecorder::defaultOptions();
    options.bootloader = bootloader;
    return std::make_shared<Sim::XmegaMailboxRecorder>(options);
}

std::shared_ptr<Sim::StreamingRecorder> streamingRecorder(bool bootloader = false)
{
    auto options = Sim::StreamingRecorder::defaultOptions();
    options.bootloader = bootloader;
    return std::make_shared<Sim::StreamingRecorder>(options);
}

// Progress as the updater thread reports it.
struct ProgressLog
{
    static void record(void* context, float fraction)
    {
        static_cast<ProgressLog*>(context)->values.push_back(fraction);
    }
    std::vector<float> values;
};

uint16_t productOf(IKestrel* device)
{
    uint16_t pid = 0;
    return device->getProductId(pid) ? pid : 0;
}

} // namespace

class RecorderNotifiersTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { bus().reset(); }

    void imageTableReadsTheShippedPrograms();
    void fx2UnitIsLoadedAndArrivesOnce_data();
    void fx2UnitIsLoadedAndArrivesOnce();
    void fx2RemovalReleasesTheNotifiersReferenceOnce();
    void fx2UnitNeverReportedHasNoRemoval();
    void fx2NotifierStartsOnceAndReleasesOnDestruction();
    void mailboxRecorderArrivesAndGoes();
    void bootloaderUnitIsReportedNotRestarted();
    void unitBackFromAnnouncedRebootKeepsItsObject();
    void secondMailboxStartChangesNothing();
    void unitArrivingAgainUnderItsIdGoesWithAllItsObjects();
    void streamingUnitArrivesOnceAndLeaves();
    void streamingUpdateKeepsTheObjectAndNetwork();
    void streamingImageOnABootloaderUnitNeedsNoReboot();
    void secondStreamingStartChangesNothing();
    void streamingUnitThatNeverComesBackFailsTheImage();
};

void RecorderNotifiersTest::imageTableReadsTheShippedPrograms()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::vector<uint8_t> image = ramImage(7);
    QFile file(dir.filePath("fx2-c3a3.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
    file.close();

    const Fx2RamImageTable table = Fx2RamImageTable::fromDirectory(dir.path());
    QCOMPARE(table.productIds(), (std::vector<uint32_t>{0xC34C, 0xC34D, 0xC35A, 0xC3A3, 0xC367}));
    for (uint16_t pid : {0xC3A3, 0xC367}) {
        const Fx2RamImageRow* row = table.row(pid);
        QVERIFY(row && row->factory);
        QCOMPARE(std::vector<uint8_t>(row->firmware, row->firmware + row->firmwareLength), image);
    }
    // Not shipped: the row stays, without a program.
    QVERIFY(table.row(0xC34C));
    QCOMPARE(table.row(0xC34C)->firmwareLength, uint64_t(0));
    QVERIFY(!table.row(0xC3A6));
}

void RecorderNotifiersTest::fx2UnitIsLoadedAndArrivesOnce_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<uint32_t>("imageSeed");
    QTest::newRow("c34d") << 0xC34D << 1u;
    QTest::newRow("c367 runs the c3a3 program") << 0xC367 << 2u;
}

void RecorderNotifiersTest::fx2UnitIsLoadedAndArrivesOnce()
{
    QFETCH(int, productId);
    QFETCH(uint32_t, imageSeed);
    auto model = std::make_shared<Sim::Fx2Recorder>(uint16_t(productId), false);
    bus().plug(model);
    Watch<KestrelFX2USBNotifier> watch(imageTable());
    QVERIFY(watch.start());
    QVERIFY(watch.family.arrivals.empty()); // loaded, then back as a new device

    QTRY_COMPARE(int(watch.family.arrivals.size()), 1);
    QVERIFY(model->firmwareRunning());
    const std::vector<uint8_t> image = ramImage(imageSeed);
    QCOMPARE(loadedRecords(*model),
             (std::vector<std::vector<uint8_t>>{
                 std::vector<uint8_t>(image.begin() + 4, image.begin() + 4 + 48),
                 std::vector<uint8_t>(image.begin() + 57, image.begin() + 57 + 16)}));
    IKestrel* device = watch.family.arrivals[0];
    QCOMPARE(productOf(device), uint16_t(productId));
    QVERIFY(device->isConnected());
    QVERIFY(dynamic_cast<KestrelFX2USBDevice*>(device));
    QCOMPARE(watch.notifier.deviceCount(), size_t(1));

    // Nothing further comes of it.
    QTest::qWait(100);
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    QCOMPARE(int(model->ramWrites().size()), 4);
}

void RecorderNotifiersTest::fx2RemovalReleasesTheNotifiersReferenceOnce()
{
    auto model = std::make_shared<Sim::Fx2Recorder>(0xC34D, true);
    const Sim::DeviceId id = bus().plug(model);
    Watch<KestrelFX2USBNotifier> watch(imageTable());
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    IKestrel* device = watch.family.arrivals[0];

    QVERIFY(bus().unplug(id));
    QTRY_COMPARE(int(watch.family.removals.size()), 1);
    QCOMPARE(watch.family.removals[0], device);
    // The family's release is the last one: the notifier let go of its own once.
    QCOMPARE(watch.family.drop(device), 0u);
    QCOMPARE(watch.notifier.deviceCount(), size_t(0));
}

void RecorderNotifiersTest::fx2UnitNeverReportedHasNoRemoval()
{
    // No RAM program shipped for it: the unit is left alone and never reported.
    auto model = std::make_shared<Sim::Fx2Recorder>(0xC34C, false);
    const Sim::DeviceId id = bus().plug(model);
    Watch<KestrelFX2USBNotifier> watch(imageTable());
    QVERIFY(watch.start());
    QVERIFY(model->ramWrites().empty());
    QVERIFY(bus().unplug(id));
    QTest::qWait(100);
    QVERIFY(watch.family.arrivals.empty());
    QVERIFY(watch.family.removals.empty());
}

void RecorderNotifiersTest::fx2NotifierStartsOnceAndReleasesOnDestruction()
{
    bus().plug(std::make_shared<Sim::Fx2Recorder>(0xC34D, true));
    bus().plug(std::make_shared<Sim::Fx2Recorder>(0xC3A3, true));
    FamilyDelegate family;
    Platform::QtRecipient window;
    {
        KestrelFX2USBNotifier notifier(imageTable());
        window.setMessageHandler(
            [&](const Platform::Message& m, intptr_t*) { return notifier.handleDeviceChange(m); });
        QVERIFY(notifier.start(&family, &window));
        QVERIFY(!notifier.start(&family, &window));
        QCOMPARE(int(family.arrivals.size()), 2);
        window.setMessageHandler({});
    }
    // The family holds the last reference of each.
    for (IKestrel* device : family.arrivals)
        QCOMPARE(family.drop(device), 0u);
}

void RecorderNotifiersTest::mailboxRecorderArrivesAndGoes()
{
    auto model = mailboxRecorder();
    bus().plug(model);
    Watch<KestrelXmegaUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    IKestrel* device = watch.family.arrivals[0];
    QVERIFY(dynamic_cast<KestrelXmegaUSBDevice*>(device));
    QCOMPARE(productOf(device), uint16_t(0xC3A6));
    QVERIFY(device->isConnected());
    QVERIFY(device->setClock(1234));
    QCOMPARE(model->clock(), 1234u);

    QVERIFY(bus().unplug(model->id()));
    QTRY_COMPARE(int(watch.family.removals.size()), 1);
    QCOMPARE(watch.family.removals[0], device);
    QCOMPARE(watch.family.drop(device), 0u);
    QCOMPARE(watch.notifier.deviceCount(), size_t(0));
}

void RecorderNotifiersTest::bootloaderUnitIsReportedNotRestarted()
{
    auto model = mailboxRecorder(true);
    bus().plug(model);
    Watch<KestrelXmegaUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    QCOMPARE(productOf(watch.family.arrivals[0]), uint16_t(0xC386));
    QTest::qWait(50);
    QCOMPARE(model->rebootRequests(), 0);
    QVERIFY(model->isBootloader());
}

void RecorderNotifiersTest::unitBackFromAnnouncedRebootKeepsItsObject()
{
    auto model = mailboxRecorder();
    bus().plug(model);
    Watch<KestrelXmegaUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    auto* device = dynamic_cast<KestrelXmegaUSBDevice*>(watch.family.arrivals[0]);
    QVERIFY(device);

    KestrelXmegaUSBNotifier::Handle handle = watch.notifier.registry().find(device->uniqueId());
    QVERIFY(handle.device());
    std::atomic<int> result{-1};
    std::thread updater([&] { result = handle.rebootAndWait(true, 5000) ? 1 : 0; });
    QTRY_COMPARE(result.load(), 1);
    updater.join();
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    QVERIFY(watch.family.removals.empty());
    QCOMPARE(productOf(device), uint16_t(0xC386)); // the same object reaches the boot loader

    // Back into the application the same way, and on with the same object.
    result = -1;
    std::thread back([&] { result = handle.rebootAndWait(false, 5000) ? 1 : 0; });
    QTRY_COMPARE(result.load(), 1);
    back.join();
    QCOMPARE(productOf(device), uint16_t(0xC3A6));
    QVERIFY(device->isConnected());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    QVERIFY(watch.family.removals.empty());
}

// With one unit on the bus, a second start of the notifier is refused and reports nothing more.
template<typename Notifier> void secondStartChangesNothing()
{
    Watch<Notifier> watch;
    QVERIFY(watch.start());
    QVERIFY(!watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    QCOMPARE(watch.notifier.deviceCount(), size_t(1));
}

void RecorderNotifiersTest::secondMailboxStartChangesNothing()
{
    bus().plug(mailboxRecorder());
    secondStartChangesNothing<KestrelXmegaUSBNotifier>();
}

void RecorderNotifiersTest::unitArrivingAgainUnderItsIdGoesWithAllItsObjects()
{
    // A second arrival under a unique id already held, with no reboot announced: the family
    // is told of a further object, and the unit's removal takes both.
    auto first = mailboxRecorder();
    auto second = mailboxRecorder();
    bus().plug(first);
    Watch<KestrelXmegaUSBNotifier> watch;
    QVERIFY(watch.start());
    bus().plug(second);
    QTRY_COMPARE(int(watch.family.arrivals.size()), 2);
    QCOMPARE(watch.notifier.deviceCount(), size_t(2));

    QVERIFY(bus().unplug(second->id()));
    QTRY_COMPARE(int(watch.family.removals.size()), 2);
    QCOMPARE(watch.notifier.deviceCount(), size_t(0));
    for (IKestrel* device : watch.family.arrivals)
        QCOMPARE(watch.family.drop(device), 0u);
}

void RecorderNotifiersTest::streamingUnitArrivesOnceAndLeaves()
{
    auto model = streamingRecorder();
    bus().plug(model);
    Watch<KestrelXmegaStreamingUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    IKestrel* device = watch.family.arrivals[0];
    QVERIFY(dynamic_cast<KestrelXmegaStreamingUSBDevice*>(device));
    QCOMPARE(productOf(device), uint16_t(0xC3E4));
    QVERIFY(device->isConnected());
    QVERIFY(device->setClock(1234));
    QCOMPARE(model->clock().first, 1234u);

    // The same unit arriving again under its unique id is no new recorder.
    auto twin = streamingRecorder();
    bus().plug(twin);
    QTest::qWait(50);
    QCOMPARE(int(watch.family.arrivals.size()), 1);

    QVERIFY(bus().unplug(twin->id()));
    QTRY_COMPARE(int(watch.family.removals.size()), 1);
    QCOMPARE(watch.family.removals[0], device);
    QCOMPARE(watch.family.drop(device), 0u);
    QCOMPARE(watch.notifier.deviceCount(), size_t(0));
}

void RecorderNotifiersTest::streamingUpdateKeepsTheObjectAndNetwork()
{
    auto model = streamingRecorder();
    const Sim::StreamingRecorder::Network network{0, 0x0A010203, 0xFFFF0000, 0x0A010201};
    model->setNetwork(network);
    model->addTarget(1, 64 * 1024, 1024, 256);
    bus().plug(model);
    Watch<KestrelXmegaStreamingUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    IKestrel* device = watch.family.arrivals[0];

    const std::vector<uint8_t> xmegaImage = patternBytes(3000, 7);
    const std::vector<uint8_t> flashImage = patternBytes(5000, 9);
    ProgressLog xmegaProgress, flashProgress;
    std::atomic<int> result{-1};
    // The updater's order, on a thread of its own; this thread runs the notifier.
    std::thread updater([&] {
        const bool ok =
            device->prepareForUpdate() &&
            device->program(ProgramType::XmegaImage, 0, 0, xmegaImage.data(),
                            uint32_t(xmegaImage.size()), &ProgressLog::record, &xmegaProgress) &&
            device->program(ProgramType::FlashImage, 1, 0x2000, flashImage.data(),
                            uint32_t(flashImage.size()), &ProgressLog::record, &flashProgress) &&
            device->rebootAfterUpdate();
        result = ok ? 1 : 0;
    });
    QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 30000);
    updater.join();
    QCOMPARE(result.load(), 1);

    QCOMPARE(model->rebootRequests(), 2);
    QVERIFY(!model->isBootloader());
    QCOMPARE(model->bootloaderImage(), xmegaImage);
    const std::vector<uint8_t> flash = model->target(1).bytes;
    QVERIFY(std::equal(flashImage.begin(), flashImage.end(), flash.begin() + 0x2000));
    // The new firmware came up with factory values; the ones read before are back.
    QVERIFY(model->network() == network);
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    QVERIFY(watch.family.removals.empty());
    QVERIFY(device->isConnected());

    QCOMPARE(xmegaProgress.values, std::vector<float>{-1.0f});
    QVERIFY(!flashProgress.values.empty());
    QVERIFY(std::is_sorted(flashProgress.values.begin(), flashProgress.values.end()));
    QVERIFY(flashProgress.values.front() >= 0.0f && flashProgress.values.front() <= 0.5f);
    QCOMPARE(flashProgress.values.back(), 1.0f);
    QVERIFY(std::any_of(flashProgress.values.begin(), flashProgress.values.end(),
                        [](float v) { return v > 0.0f && v < 0.5f; }));
}

void RecorderNotifiersTest::streamingImageOnABootloaderUnitNeedsNoReboot()
{
    auto model = streamingRecorder(true);
    bus().plug(model);
    Watch<KestrelXmegaStreamingUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    IKestrel* device = watch.family.arrivals[0];
    QCOMPARE(productOf(device), uint16_t(0xC386));
    // No stream in the boot loader: the unit reads as one that needs its firmware.
    QVERIFY_THROWS_EXCEPTION(VornOSRPC::IncompatiableProtocolException, device->isConnected());
    QCOMPARE(ConnectionProbe::probe(*device), ConnectionProbe::Incompatible);
    QVERIFY(!device->isFirmwareCurrent());

    const std::vector<uint8_t> image = patternBytes(700, 3);
    std::atomic<int> result{-1};
    std::thread updater([&] {
        result = device->program(ProgramType::XmegaImage, 0, 0, image.data(),
                                 uint32_t(image.size()), nullptr, nullptr)
                     ? 1
                     : 0;
    });
    QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 30000);
    updater.join();
    QCOMPARE(result.load(), 1);
    QCOMPARE(model->rebootRequests(), 0);
    QCOMPARE(model->bootloaderImage(), image);
}

void RecorderNotifiersTest::secondStreamingStartChangesNothing()
{
    bus().plug(streamingRecorder());
    secondStartChangesNothing<KestrelXmegaStreamingUSBNotifier>();
}

void RecorderNotifiersTest::streamingUnitThatNeverComesBackFailsTheImage()
{
    auto model = streamingRecorder();
    bus().plug(model);
    Watch<KestrelXmegaStreamingUSBNotifier> watch;
    QVERIFY(watch.start());
    QCOMPARE(int(watch.family.arrivals.size()), 1);
    IKestrel* device = watch.family.arrivals[0];
    Sim::XmegaFaults faults;
    faults.rebootNeverReturns = true;
    model->setFaults(faults);

    const std::vector<uint8_t> image = patternBytes(300, 5);
    std::atomic<int> result{-1};
    std::thread updater([&] {
        result = device->program(ProgramType::XmegaImage, 0, 0, image.data(),
                                 uint32_t(image.size()), nullptr, nullptr)
                     ? 1
                     : 0;
    });
    // The wait ends with the reboot's time-out, and only then is the unit reported gone.
    QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 30000);
    updater.join();
    QCOMPARE(result.load(), 0);
    QTRY_COMPARE(int(watch.family.removals.size()), 1);
    QCOMPARE(watch.family.removals[0], device);
    QVERIFY(model->bootloaderImage().empty());
}

QTEST_GUILESS_MAIN(RecorderNotifiersTest)
#include "tst_recordernotifiers.moc"
