#include "blockbytes.h"
#include "sizedblock.h"

#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/kestrelxmegausbdevice.h"
#include "plugins/recorder/xmegamailbox.h"
#include "sim/recorder/xmegamailboxrecorder.h"
#include "tests/usb/xmegatestsupport.h"
#include "usb/xmega/qtxmegausbregistry.h"

#include <QtTest>

using namespace CVN::DiskRecorder;

namespace {

constexpr uint32_t kResultTop = 55;

// One simulated mailbox recorder on the bus, registered under its unique id as the notifier
// would, with the recorder device over it. Waits only move a manual clock.
struct XmegaRecorderBench
{
    explicit XmegaRecorderBench(
        Sim::XmegaUnit::Options options = Sim::XmegaMailboxRecorder::defaultOptions())
        : model(std::make_shared<Sim::XmegaMailboxRecorder>(options))
        , bench(model)
        , registry(QtXmegaUSBRegistry<XmegaUSBDevice>::create())
        , id(DeviceId::fromBytes(options.uniqueId.data()))
    {
        usb = XmegaUSBDevice::create(bench.device());
        if (!usb)
            return;
        usb->setClock(clock);
        registry->arrived(id, usb);
        device = new KestrelXmegaUSBDevice(KestrelXmegaUSBDevice::Handle(registry, id, usb));
        bench.clearLog();
    }
    ~XmegaRecorderBench()
    {
        if (device)
            device->release();
    }

    // Memory-window reads of one register.
    int readsOf(uint32_t reg) const
    {
        int n = 0;
        for (const Sim::ControlSetup& s : bench.requests(XmegaUSBDevice::kReadMemory))
            n += s.value == reg;
        return n;
    }
    std::vector<uint32_t> arguments(uint32_t command) const
    {
        std::vector<uint32_t> out;
        for (const auto& c : model->commands()) {
            if (c.first == command)
                out.push_back(c.second);
        }
        return out;
    }

    std::shared_ptr<Sim::XmegaMailboxRecorder> model;
    XmegaBench bench;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<QtXmegaUSBRegistry<XmegaUSBDevice>> registry;
    DeviceId id;
    std::shared_ptr<XmegaUSBDevice> usb;
    KestrelXmegaUSBDevice* device = nullptr;
};

} // namespace

class XmegaRecorderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writeStepsCarryCountsAndFirstFlag_data();
    void writeStepsCarryCountsAndFirstFlag();
    void readTakesOnlyTheBlocksBytes();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void recordRoundTripsThroughTheUnit();
    void readRefusesAMalformedBlock_data();
    void readRefusesAMalformedBlock();
    void emptyReadStepsAreBounded();
    void pendingReadStepFailsAfterItsPolls();
    void writeStepStillPendingIsNoError();
    void clockMustComplete();
    void statusAndVersions();
    void firmwareCurrent_data();
    void firmwareCurrent();
    void programsAndReadsBackOneMebibyte();
    void zeroGeometryFailsBeforeErasing();
    void eraseThatNeverEndsIsGivenUp();
    void followsTheUnitToItsNewDevice();
};

void XmegaRecorderTest::writeStepsCarryCountsAndFirstFlag_data()
{
    QTest::addColumn<uint32_t>("size");
    QTest::addColumn<QList<int>>("counts");
    QTest::newRow("header only") << 12u << QList<int>{0x83, 3, 3, 3};
    QTest::newRow("two over") << 20u << QList<int>{0x83, 3, 3, 3, 3, 3, 2};
    QTest::newRow("one over") << 22u << QList<int>{0x83, 3, 3, 3, 3, 3, 3, 1};
}

void XmegaRecorderTest::writeStepsCarryCountsAndFirstFlag()
{
    QFETCH(uint32_t, size);
    QFETCH(QList<int>, counts);
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    const std::vector<uint8_t> bytes = blockOfSize(size);
    QVERIFY(bench.device->writeSettingsBlock(loaded(bytes).get()));

    const std::vector<uint32_t> steps = bench.arguments(KestrelXmegaUSBDevice::kWriteSettingsStep);
    QCOMPARE(int(steps.size()), counts.size());
    std::vector<uint8_t> carried;
    for (int i = 0; i < counts.size(); ++i) {
        QCOMPARE(int(steps[size_t(i)] >> 24), counts[i]);
        const uint32_t n = steps[size_t(i)] >> 24 & 0x7F;
        for (uint32_t b = 0; b < 3; ++b) {
            const uint8_t byte = uint8_t(steps[size_t(i)] >> (16 - 8 * b));
            if (b < n)
                carried.push_back(byte);
            else
                QCOMPARE(byte, uint8_t(0));
        }
    }
    QCOMPARE(carried, bytes);
    QCOMPARE(bench.model->settings().block(), bytes);

    // An empty block sends nothing.
    SettingsBlock empty;
    QVERIFY(bench.device->writeSettingsBlock(&empty));
    QCOMPARE(int(bench.arguments(KestrelXmegaUSBDevice::kWriteSettingsStep).size()), counts.size());
    QVERIFY(!bench.device->writeSettingsBlock(nullptr));
}

void XmegaRecorderTest::readTakesOnlyTheBlocksBytes()
{
    // 14 bytes come in five steps of three; the fifteenth is not the block's.
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    QByteArray stored = beWords({14, 0x000C3C01, 0});
    stored.append("\x41\x42\x43", 3);
    bench.model->settings().setRawBlock(exact(stored));
    std::unique_ptr<SettingsBlock> block;
    QVERIFY(bench.device->readSettingsBlock(block));
    QVERIFY(block);
    QCOMPARE(bytesOf(*block), exact(stored.left(14)));
    QCOMPARE(bench.arguments(KestrelXmegaUSBDevice::kReadSettingsStep),
             (std::vector<uint32_t>{1, 0, 0, 0, 0}));
}

void XmegaRecorderTest::settingsRoundTrip_data()
{
    QTest::addColumn<uint32_t>("size");
    QTest::newRow("header only") << 12u;
    QTest::newRow("22 bytes") << 22u;
    QTest::newRow("1000 bytes") << 1000u;
    QTest::newRow("largest, last step over the end") << 8192u;
}

void XmegaRecorderTest::settingsRoundTrip()
{
    QFETCH(uint32_t, size);
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    const std::vector<uint8_t> bytes = blockOfSize(size, size);
    QVERIFY(bench.device->writeSettingsBlock(loaded(bytes).get()));
    std::unique_ptr<SettingsBlock> block;
    QVERIFY(bench.device->readSettingsBlock(block));
    QVERIFY(block);
    QCOMPARE(bytesOf(*block), bytes);
    QCOMPARE(int(bench.arguments(KestrelXmegaUSBDevice::kReadSettingsStep).size()),
             int((size + 2) / 3));
}

void XmegaRecorderTest::recordRoundTripsThroughTheUnit()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setStatus(0x31);
    KestrelSettings written;
    written.legacyCodec = 7; // DNxHR QT, this model only
    written.timecodeOutput = true;
    written.trigger = 1;
    QVERIFY(bench.device->writeSettings(written));
    QCOMPARE(bench.model->settings().value(0xC3010001), std::optional<uint32_t>(0x41566468));
    KestrelSettings read;
    QVERIFY(bench.device->readSettings(read));
    QVERIFY(read == written);
}

void XmegaRecorderTest::readRefusesAMalformedBlock_data()
{
    addMalformedBlockRows();
}

void XmegaRecorderTest::readRefusesAMalformedBlock()
{
    QFETCH(QByteArray, stored);
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->settings().setRawBlock(exact(stored));
    QVERIFY(readIsRefused(*bench.device));
}

void XmegaRecorderTest::emptyReadStepsAreBounded()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    Sim::XmegaMailboxRecorder::Mailbox mailbox;
    mailbox.emptyReadSteps = -1;
    bench.model->setMailbox(mailbox);
    std::unique_ptr<SettingsBlock> block;
    QVERIFY(!bench.device->readSettingsBlock(block));
    QCOMPARE(int(bench.arguments(KestrelXmegaUSBDevice::kReadSettingsStep).size()),
             KestrelXmegaUSBDevice::kEmptyReadSteps);

    // A unit that is slow to start is waited for.
    mailbox.emptyReadSteps = KestrelXmegaUSBDevice::kEmptyReadSteps - 1;
    bench.model->setMailbox(mailbox);
    QVERIFY(bench.device->readSettingsBlock(block));
    QCOMPARE(bytesOf(*block), bench.model->settings().block());
}

void XmegaRecorderTest::pendingReadStepFailsAfterItsPolls()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setPendingPolls(KestrelXmegaUSBDevice::kReadSettingsStep, -1);
    std::unique_ptr<SettingsBlock> block;
    QVERIFY(!bench.device->readSettingsBlock(block));
    QCOMPARE(bench.readsOf(kResultTop), XmegaMailbox::kResultPolls);
    QCOMPARE(bench.clock->sleptMs(), uint64_t(XmegaMailbox::kResultPolls) * 100);

    bench.model->setPendingPolls(KestrelXmegaUSBDevice::kReadSettingsStep,
                                 XmegaMailbox::kResultPolls - 1);
    QVERIFY(bench.device->readSettingsBlock(block));
}

void XmegaRecorderTest::writeStepStillPendingIsNoError()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setPendingPolls(KestrelXmegaUSBDevice::kWriteSettingsStep, -1);
    const std::vector<uint8_t> bytes = blockOfSize(22);
    QVERIFY(bench.device->writeSettingsBlock(loaded(bytes).get()));
    QCOMPARE(bench.readsOf(kResultTop), 8 * XmegaMailbox::kCompletionPolls);
    QCOMPARE(bench.model->settings().block(), bytes);
}

void XmegaRecorderTest::clockMustComplete()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    QVERIFY(bench.device->setClock(0x6A5B4C3D));
    QCOMPARE(bench.model->clock(), 0x6A5B4C3Du);

    bench.model->setPendingPolls(KestrelXmegaUSBDevice::kSetClock, -1);
    const uint64_t before = bench.clock->sleptMs();
    QVERIFY(!bench.device->setClock(5));
    QCOMPARE(bench.clock->sleptMs() - before, uint64_t(XmegaMailbox::kCompletionPolls) * 10);

    bench.model->setPendingPolls(KestrelXmegaUSBDevice::kSetClock,
                                 XmegaMailbox::kCompletionPolls - 1);
    QVERIFY(bench.device->setClock(6));
    QCOMPARE(bench.model->clock(), 6u);
}

void XmegaRecorderTest::statusAndVersions()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setFirmware(0x10, 0x16327E57);
    bench.model->setStatus(0x01 | 0x08 | 0x40);
    QVERIFY(bench.device->isConnected());
    QCOMPARE(bench.device->fpgaVersion(), 0x10u);
    QCOMPARE(bench.device->cpuChecksum(), 0x16327E57u);
    bool busy = false;
    QVERIFY(bench.device->isBusy(busy));
    QVERIFY(busy);
    QVERIFY(bench.device->settingsChanged());
    uint32_t capabilities = 0;
    QVERIFY(bench.device->getCapabilities(capabilities));
    QCOMPARE(capabilities, 0x49u);
    std::string name;
    bench.device->getName(name);
    QCOMPARE(name, std::string("Kestrel Bench UHD"));
    QVERIFY(bench.device->isLegacy());

    bench.model->setStatus(0x30);
    QVERIFY(!bench.device->isConnected());
    bench.model->setStatus(0x01);
    bench.model->setFirmware(255, 0);
    QVERIFY(!bench.device->isConnected()); // the application does not answer
}

void XmegaRecorderTest::firmwareCurrent_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("fpga");
    QTest::addColumn<uint32_t>("checksum");
    QTest::addColumn<bool>("current");
    QTest::newRow("current") << 0xC3A6 << 0x10 << 0x16327E57u << true;
    QTest::newRow("old fpga") << 0xC3A6 << 0x0F << 0x16327E57u << false;
    QTest::newRow("old cpu") << 0xC3A6 << 0x10 << 0x16327E56u << false;
    QTest::newRow("other product") << 0xC3A7 << 0x10 << 0x16327E57u << false;
}

void XmegaRecorderTest::firmwareCurrent()
{
    QFETCH(int, productId);
    QFETCH(int, fpga);
    QFETCH(uint32_t, checksum);
    QFETCH(bool, current);
    auto options = Sim::XmegaMailboxRecorder::defaultOptions();
    options.productId = uint16_t(productId);
    XmegaRecorderBench bench{options};
    QVERIFY(bench.device);
    bench.model->setFirmware(uint8_t(fpga), checksum);
    QCOMPARE(bench.device->isFirmwareCurrent(), current);
}

void XmegaRecorderTest::programsAndReadsBackOneMebibyte()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->addTarget(2, 2u << 20, 4096, 256);
    std::vector<uint8_t> image(1u << 20);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 13 + (i >> 10));
    std::vector<float> progress;
    QVERIFY(bench.device->program(ProgramType::FlashImage, 2, 0x80000, image.data(),
                                  uint32_t(image.size()), &recordProgress, &progress));
    const std::vector<uint8_t> flash = bench.model->target(2).bytes;
    QVERIFY(std::equal(image.begin(), image.end(), flash.begin() + 0x80000));
    QVERIFY(
        std::all_of(flash.begin(), flash.begin() + 0x80000, [](uint8_t b) { return b == 0xFF; }));
    QVERIFY(!bench.model->inUpdateMode());
    QCOMPARE(progress.front(), -1.0f);
    QVERIFY(progress.size() > 2);
    QVERIFY(std::is_sorted(progress.begin() + 1, progress.end()));
    QVERIFY(progress.back() <= 1.0f);
    const auto erase = bench.bench.requests(XmegaUSBDevice::kErasePages);
    QCOMPARE(int(erase.size()), 1);

    QVERIFY(
        !bench.device->program(ProgramType::XmegaImage, 2, 0, image.data(), 256, nullptr, nullptr));
}

void XmegaRecorderTest::zeroGeometryFailsBeforeErasing()
{
    for (auto geometry : {std::pair<uint32_t, uint32_t>{0, 64}, {512, 0}}) {
        XmegaRecorderBench bench;
        QVERIFY(bench.device);
        bench.model->overrideGeometry(geometry.first, geometry.second);
        const std::vector<uint8_t> image(1024, 0x11);
        QVERIFY(!bench.device->program(ProgramType::FlashImage, 0, 0, image.data(), 1024, nullptr,
                                       nullptr));
        QVERIFY(bench.bench.requests(XmegaUSBDevice::kErasePages).empty());
        QVERIFY(!bench.model->inUpdateMode());
    }
}

void XmegaRecorderTest::eraseThatNeverEndsIsGivenUp()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setErasePolls(1000000);
    const std::vector<uint8_t> image(1024, 0x11);
    QVERIFY(!bench.device->program(ProgramType::FlashImage, 0, 0, image.data(), 1024, nullptr,
                                   nullptr));
    QVERIFY(bench.clock->sleptMs() <= XmegaUSBDevice::kBusyLimitMs + XmegaUSBDevice::kBusyPollMs);
    QVERIFY(!bench.model->inUpdateMode());
    QVERIFY(bench.bench.requests(XmegaUSBDevice::kBulkDownload).empty());
}

void XmegaRecorderTest::followsTheUnitToItsNewDevice()
{
    XmegaRecorderBench bench;
    QVERIFY(bench.device);
    const Sim::DeviceId old = bench.bench.id();
    bench.model->reboot(false);
    QVERIFY(bench.bench.waitForReenumeration(old));
    QVERIFY(!bench.device->isConnected()); // still on the device that went
    std::string name = "as made";
    bench.device->getName(name);
    QCOMPARE(name, std::string("Kestrel")); // no product id to name it by

    // The unit's new device, once the bus lists it.
    std::shared_ptr<XmegaUSBDevice> next;
    QTRY_VERIFY((next = XmegaUSBDevice::create(bench.bench.device())) != nullptr);
    bench.registry->arrived(bench.id, next);
    QVERIFY(bench.device->isConnected());
    QCOMPARE(bench.device->currentDevice(), next);
}

QTEST_GUILESS_MAIN(XmegaRecorderTest)
#include "tst_xmegarecorder.moc"
