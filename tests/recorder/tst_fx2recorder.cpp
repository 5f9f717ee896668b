#include "blockbytes.h"
#include "sizedblock.h"
#include "tests/usb/simdevicefixture.h"

#include "plugins/recorder/diskrecorderinstance.h"
#include "plugins/recorder/kestrelfx2usbdevice.h"
#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/settingsblock.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbbus.h"
#include "usb/driver/notificationregistration.h"

#include <QtTest>

#include <numeric>

using namespace CVN::DiskRecorder;

namespace {

constexpr uint8_t kCommandRegister = 3;

// One simulated FX2 recorder on the bus, opened as the notifier would, with the recorder
// device over it. Pauses only add up.
struct Fx2RecorderBench
{
    explicit Fx2RecorderBench(uint16_t productId = 0xC34D)
        : model(std::make_shared<Sim::Fx2Recorder>(productId))
    {
        id = Sim::UsbBus::instance().plug(model);
        registration = registerCollector(&collector);
        if (collector.arrivals.size() != 1)
            return;
        instance = new DiskRecorderInstance(collector.arrivals[0], nullptr);
        instance->setClock(clock);
        if (!instance->open())
            return;
        device = new KestrelFX2USBDevice(instance);
        clearLog();
    }
    ~Fx2RecorderBench()
    {
        if (device)
            device->release();
        if (instance)
            instance->Release();
        collector.clear();
        CVN::USB::CVNUsb_UnregisterDeviceNotifications(registration);
        Sim::UsbBus::instance().reset();
    }

    std::vector<Sim::LogEntry> log() const { return Sim::UsbBus::instance().requestLog(id); }
    void clearLog() { Sim::UsbBus::instance().clearRequestLog(id); }
    // Values written to the command register, in order.
    std::vector<uint8_t> commands() const
    {
        std::vector<uint8_t> out;
        for (const Sim::LogEntry& e : log()) {
            if (e.kind == Sim::LogEntry::Control && e.setup.request == 0xD7 &&
                (e.setup.index >> 8) == kCommandRegister)
                out.push_back(uint8_t(e.setup.index));
        }
        return out;
    }
    std::vector<Sim::LogEntry> of(Sim::LogEntry::Kind kind, uint8_t request = 0) const
    {
        std::vector<Sim::LogEntry> out;
        for (const Sim::LogEntry& e : log()) {
            if (e.kind == kind && (kind != Sim::LogEntry::Control || e.setup.request == request))
                out.push_back(e);
        }
        return out;
    }
    int readsOf(uint8_t reg) const
    {
        int n = 0;
        for (const Sim::LogEntry& e : of(Sim::LogEntry::Control, 0xD6))
            n += (e.setup.index >> 8) == reg;
        return n;
    }

    std::shared_ptr<Sim::Fx2Recorder> model;
    Sim::DeviceId id = 0;
    DeviceCollector collector;
    CVN::USB::NotificationRegistration* registration = nullptr;
    DiskRecorderInstance* instance = nullptr;
    KestrelFX2USBDevice* device = nullptr;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
};

} // namespace

class Fx2RecorderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void opensOnItsTwoBulkPipes();
    void refusesAUnitWithoutItsPipes_data();
    void refusesAUnitWithoutItsPipes();
    void settingsWriteGoesInWholePackets();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void recordRoundTripsThroughTheUnit();
    void readRefusesAMalformedBlock_data();
    void readRefusesAMalformedBlock();
    void shortPacketFailsTheRead();
    void readSelectsEachPacket();
    void packetNeverTakenFailsAfterBoundedPolls();
    void clockGoesInABulkPacket();
    void statusAndVersions();
    void firmwareCurrentByProduct_data();
    void firmwareCurrentByProduct();
    void programsAndReadsBackOneMebibyte();
    void programTargetPicksTheHardwareMode_data();
    void programTargetPicksTheHardwareMode();
    void ethernetRecordLandsInBlock255_data();
    void ethernetRecordLandsInBlock255();
};

void Fx2RecorderTest::opensOnItsTwoBulkPipes()
{
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    // A second instance over the same unit opens the same way; both pipes are reset.
    bench.clearLog();
    auto* second = new DiskRecorderInstance(bench.collector.arrivals[0], nullptr);
    QVERIFY(second->open());
    std::vector<uint8_t> resets;
    for (const Sim::LogEntry& e : bench.log()) {
        if (e.kind == Sim::LogEntry::ResetPipe)
            resets.push_back(e.endpoint);
    }
    QVERIFY(std::count(resets.begin(), resets.end(), Sim::Fx2Device::kDataOut) >= 1);
    QCOMPARE(int(std::count(resets.begin(), resets.end(), Sim::Fx2Device::kDataIn)), 1);
    second->Release();
}

void Fx2RecorderTest::refusesAUnitWithoutItsPipes_data()
{
    QTest::addColumn<QByteArray>("configuration");
    auto layout = [](Sim::ConfigurationBuilder builder) {
        const std::vector<uint8_t> bytes = builder.build();
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    };
    auto interface = [] { return Sim::ConfigurationBuilder().interface(0, 0, 0xFF, 0, 0); };
    QTest::newRow("no bulk-in pipe") << layout(interface().bulkOut(0x02));
    QTest::newRow("second pipe also out") << layout(interface().bulkOut(0x02).bulkOut(0x04));
    QTest::newRow("in pipe first") << layout(interface().bulkIn(0x86).bulkOut(0x02));
}

void Fx2RecorderTest::refusesAUnitWithoutItsPipes()
{
    QFETCH(QByteArray, configuration);
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setConfiguration(std::vector<uint8_t>(configuration.begin(), configuration.end()));
    auto* other = new DiskRecorderInstance(bench.collector.arrivals[0], nullptr);
    QVERIFY(!other->open());
    other->Release();
}

void Fx2RecorderTest::settingsWriteGoesInWholePackets()
{
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    const std::vector<uint8_t> bytes = blockOfSize(1000);
    QVERIFY(bench.device->writeSettingsBlock(loaded(bytes).get()));

    QCOMPARE(bench.commands(), (std::vector<uint8_t>{0xC1, 0x41, 0x00}));
    const auto packets = bench.of(Sim::LogEntry::BulkOut);
    QCOMPARE(int(packets.size()), 2);
    QCOMPARE(int(packets[0].data.size()), 512);
    QCOMPARE(int(packets[1].data.size()), 512);
    QVERIFY(std::equal(bytes.begin(), bytes.begin() + 512, packets[0].data.begin()));
    QVERIFY(std::equal(bytes.begin() + 512, bytes.end(), packets[1].data.begin()));
    QVERIFY(std::all_of(packets[1].data.begin() + 488, packets[1].data.end(),
                        [](uint8_t b) { return b == 0; }));
    QCOMPARE(bench.model->settings().block(), bytes);
    QCOMPARE(bench.model->settings().applied(), 1);
}

void Fx2RecorderTest::settingsRoundTrip_data()
{
    QTest::addColumn<uint32_t>("size");
    QTest::addColumn<int>("nextChunks");
    QTest::newRow("header only") << 12u << 0;
    QTest::newRow("one whole chunk") << 512u << 0;
    QTest::newRow("one byte over") << 513u << 1;
    QTest::newRow("1000 bytes") << 1000u << 1;
    QTest::newRow("largest") << 8192u << 15;
}

void Fx2RecorderTest::settingsRoundTrip()
{
    QFETCH(uint32_t, size);
    QFETCH(int, nextChunks);
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    const std::vector<uint8_t> bytes = blockOfSize(size, size);
    QCOMPARE(uint32_t(bytes.size()), size);
    QVERIFY(bench.device->writeSettingsBlock(loaded(bytes).get()));
    bench.clearLog();

    std::unique_ptr<SettingsBlock> block;
    QVERIFY(bench.device->readSettingsBlock(block));
    QVERIFY(block);
    QCOMPARE(std::vector<uint8_t>(block->data(), block->data() + block->totalLength()), bytes);
    std::vector<uint8_t> expected{0x81};
    expected.insert(expected.end(), size_t(nextChunks), 0x01);
    expected.push_back(0x00);
    QCOMPARE(bench.commands(), expected);
}

void Fx2RecorderTest::recordRoundTripsThroughTheUnit()
{
    Fx2RecorderBench bench(0xC34D);
    QVERIFY(bench.device);
    bench.model->setStatus(0x31); // ProRes and DNxHD
    KestrelSettings written;
    written.legacyCodec = 6; // DNxHD MXF
    written.timecodeOutput = true;
    written.trigger = 2;
    QVERIFY(bench.device->writeSettings(written));
    QCOMPARE(bench.model->settings().value(0xC3010001), std::optional<uint32_t>(0x4156646E));
    QCOMPARE(bench.model->settings().value(0xC3010005), std::optional<uint32_t>(2));

    KestrelSettings read;
    QVERIFY(bench.device->readSettings(read));
    QVERIFY(read == written);
}

void Fx2RecorderTest::readRefusesAMalformedBlock_data()
{
    addMalformedBlockRows();
}

void Fx2RecorderTest::readRefusesAMalformedBlock()
{
    QFETCH(QByteArray, stored);
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    bench.model->settings().setRawBlock(exact(stored));
    QVERIFY(readIsRefused(*bench.device));
}

void Fx2RecorderTest::shortPacketFailsTheRead()
{
    // A packet short of what the host still expects from it fails the read, whichever packet
    // of which chunk it is; nothing past the asked length is written.
    for (int packet : {1, 8, 9, 12}) {
        Fx2RecorderBench bench;
        QVERIFY(bench.device);
        QVERIFY(bench.device->writeSettingsBlock(loaded(blockOfSize(1000)).get()));
        bench.model->cutPacket(packet, 1);
        std::unique_ptr<SettingsBlock> block;
        QVERIFY2(!bench.device->readSettingsBlock(block), qPrintable(QString::number(packet)));
        QVERIFY(!block);
    }
    // A short last packet is fine when it still carries every byte that is wanted.
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    const std::vector<uint8_t> bytes = blockOfSize(1000);
    QVERIFY(bench.device->writeSettingsBlock(loaded(bytes).get()));
    bench.model->cutPacket(16, 64 - (1000 - 512 - 7 * 64));
    std::vector<uint8_t> buffer(1000);
    QVERIFY(bench.device->instance()->writeRegister(kCommandRegister, 0x81));
    QVERIFY(bench.device->instance()->bulkRead(buffer.data(), 512));
    QVERIFY(bench.device->instance()->writeRegister(kCommandRegister, 0x01));
    QVERIFY(bench.device->instance()->bulkRead(buffer.data() + 512, 488));
    QCOMPARE(buffer, bytes);
}

void Fx2RecorderTest::readSelectsEachPacket()
{
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    std::unique_ptr<SettingsBlock> block;
    QVERIFY(bench.device->readSettingsBlock(block));
    std::vector<std::array<uint8_t, 2>> selections;
    for (const Sim::LogEntry& e : bench.of(Sim::LogEntry::Control, 0xD2))
        selections.push_back({e.data[0], e.data[1]});
    std::vector<std::array<uint8_t, 2>> expected{{0, 1}};
    expected.insert(expected.end(), 7, {0, 2}); // sent each time though unchanged
    expected.push_back({0xFF, 0xFF});
    QCOMPARE(selections, expected);
    QCOMPARE(int(bench.of(Sim::LogEntry::BulkIn).size()), 8);
}

void Fx2RecorderTest::packetNeverTakenFailsAfterBoundedPolls()
{
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setBusyReads(-1);
    QVERIFY(!bench.device->writeSettingsBlock(loaded(blockOfSize(1000)).get()));
    QCOMPARE(bench.readsOf(kCommandRegister), KestrelFX2USBDevice::kChunkTakenPolls);
    QCOMPARE(int(bench.of(Sim::LogEntry::BulkOut).size()), 1);
    QCOMPARE(bench.model->settings().applied(), 0);

    // A unit that takes a while is waited for.
    bench.model->setBusyReads(30);
    bench.clearLog();
    QVERIFY(bench.device->writeSettingsBlock(loaded(blockOfSize(1000)).get()));
    QCOMPARE(bench.readsOf(kCommandRegister), 2 * 31);
}

void Fx2RecorderTest::clockGoesInABulkPacket()
{
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    QVERIFY(bench.device->setClock(0x6A5B4C3D));
    QCOMPARE(bench.model->clock(), 0x6A5B4C3Du);
    QCOMPARE(bench.commands(), std::vector<uint8_t>{0x42});
    const auto packets = bench.of(Sim::LogEntry::BulkOut);
    QCOMPARE(int(packets.size()), 1);
    QCOMPARE(int(packets[0].data.size()), 512);
    QCOMPARE(int(bench.readsOf(kCommandRegister)), 2); // one poll still busy, then taken

    // Still busy after every poll: the time went out, so the set counts.
    bench.model->setBusyReads(-1);
    bench.clearLog();
    QVERIFY(bench.device->setClock(1));
    QCOMPARE(bench.readsOf(kCommandRegister), KestrelFX2USBDevice::kClockTakenPolls);
    // A packet the unit refuses fails it.
    bench.model->setBusyReads(1);
    bench.model->stallRequests(0xD7, 1);
    QVERIFY(!bench.device->setClock(2));
}

void Fx2RecorderTest::statusAndVersions()
{
    Fx2RecorderBench bench;
    QVERIFY(bench.device);
    bench.model->setFirmware(0x2D, 0x1A6291BD);
    bench.model->setStatus(0x01 | 0x08 | 0x40);
    QVERIFY(bench.device->isConnected());
    QCOMPARE(bench.device->fpgaVersion(), 0x2Du);
    QCOMPARE(bench.device->cpuChecksum(), 0x1A6291BDu);
    bool busy = false;
    QVERIFY(bench.device->isBusy(busy));
    QVERIFY(busy);
    QVERIFY(bench.device->settingsChanged());
    uint32_t capabilities = 0;
    QVERIFY(bench.device->getCapabilities(capabilities));
    QCOMPARE(capabilities, 0x49u);
    std::string name = "as made";
    bench.device->getName(name);
    QCOMPARE(name, std::string("as made"));

    bench.model->setStatus(0x30);
    QVERIFY(!bench.device->isConnected());
    bench.model->setStatus(0x01);
    bench.model->setVendorBytes(0, 0);
    QVERIFY(!bench.device->isConnected());

    bench.model->stallRequests(0xD6, 1);
    QCOMPARE(bench.device->cpuChecksum(), 0u);
    bench.model->stallRequests(0xD6, 1);
    QVERIFY(!bench.device->getCapabilities(capabilities));
}

void Fx2RecorderTest::firmwareCurrentByProduct_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("fpga");
    QTest::addColumn<uint32_t>("checksum");
    QTest::addColumn<bool>("current");
    QTest::newRow("c34c") << 0xC34C << 0x1A << 0x570E71DAu << true;
    QTest::newRow("c34d") << 0xC34D << 0x2D << 0x1A6291BDu << true;
    QTest::newRow("c35a") << 0xC35A << 0x0A << 0xEADDC15Du << true;
    QTest::newRow("c35a old fpga") << 0xC35A << 0x09 << 0xEADDC15Du << false;
    QTest::newRow("c367") << 0xC367 << 0x2C << 0xFF6F8B68u << true;
    QTest::newRow("c3a3") << 0xC3A3 << 0x2C << 0xFF6F8B68u << true;
    QTest::newRow("c3a3 old cpu") << 0xC3A3 << 0x2C << 0xFF6F8B69u << false;
    QTest::newRow("unknown product") << 0xC3A4 << 0x2C << 0xFF6F8B68u << false;
}

void Fx2RecorderTest::firmwareCurrentByProduct()
{
    QFETCH(int, productId);
    QFETCH(int, fpga);
    QFETCH(uint32_t, checksum);
    QFETCH(bool, current);
    Fx2RecorderBench bench{uint16_t(productId)};
    QVERIFY(bench.device);
    bench.model->setFirmware(uint8_t(fpga), checksum);
    QCOMPARE(bench.device->isFirmwareCurrent(), current);
}

void Fx2RecorderTest::programsAndReadsBackOneMebibyte()
{
    Fx2RecorderBench bench(0xC34C);
    QVERIFY(bench.device);
    std::vector<uint8_t> image(1u << 20);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 7 + (i >> 12));
    std::vector<float> progress;
    QVERIFY(bench.device->program(ProgramType::FlashImage, 0, 0x200000, image.data(),
                                  uint32_t(image.size()), &recordProgress, &progress));
    QCOMPARE(bench.model->flash(1)->contents(0x200000, uint32_t(image.size())), image);
    QCOMPARE(
        bench.model->flash(1)->erasedBlocks(),
        (std::vector<uint32_t>{32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47}));
    QVERIFY(!bench.model->inHardwareAccess());
    QCOMPARE(int(progress.size()), 1 + 16);
    QCOMPARE(progress.front(), -1.0f);
    QVERIFY(std::is_sorted(progress.begin() + 1, progress.end()));
    QCOMPARE(progress.back(), 1.0f);
    // 64-byte pages on this model.
    QCOMPARE(int(bench.of(Sim::LogEntry::BulkOut).size()), int(image.size() / 64));

    QVERIFY(
        !bench.device->program(ProgramType::XmegaImage, 0, 0, image.data(), 64, nullptr, nullptr));
}

void Fx2RecorderTest::programTargetPicksTheHardwareMode_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("mode");
    QTest::newRow("main flash") << 0xC34D << 0 << 1;
    QTest::newRow("second target, one flash") << 0xC35A << 1 << 1;
    QTest::newRow("second flash") << 0xC3A3 << 1 << 2;
    QTest::newRow("target 2") << 0xC367 << 2 << 3;
    QTest::newRow("target 3") << 0xC34C << 3 << 4;
    QTest::newRow("no such target") << 0xC34C << 4 << -1;
}

void Fx2RecorderTest::programTargetPicksTheHardwareMode()
{
    QFETCH(int, productId);
    QFETCH(int, target);
    QFETCH(int, mode);
    Fx2RecorderBench bench{uint16_t(productId)};
    QVERIFY(bench.device);
    const std::vector<uint8_t> image(3000, 0x5A);
    const bool programmed = bench.device->program(ProgramType::FlashImage, uint8_t(target), 0x10000,
                                                  image.data(), 3000, nullptr, nullptr);
    QCOMPARE(programmed, mode > 0);
    const auto enters = bench.of(Sim::LogEntry::Control, 0xDB);
    if (mode < 0) {
        QVERIFY(enters.empty());
        return;
    }
    QCOMPARE(int(enters.size()), 1);
    QCOMPARE(int(enters[0].setup.index), mode);
    QCOMPARE(bench.model->flash(uint8_t(mode))->contents(0x10000, 3000), image);
    // The target is back to the main flash afterwards.
    uint8_t after = 0xFF;
    QVERIFY(bench.instance->hardwareTarget(&after));
    QCOMPARE(after, uint8_t(0));
}

void Fx2RecorderTest::ethernetRecordLandsInBlock255_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<bool>("hasPort");
    QTest::newRow("c34d") << 0xC34D << true;
    QTest::newRow("c367") << 0xC367 << true;
    QTest::newRow("c3a3") << 0xC3A3 << true;
    QTest::newRow("c34c") << 0xC34C << false;
    QTest::newRow("c35a") << 0xC35A << false;
}

void Fx2RecorderTest::ethernetRecordLandsInBlock255()
{
    QFETCH(int, productId);
    QFETCH(bool, hasPort);
    Fx2RecorderBench bench{uint16_t(productId)};
    QVERIFY(bench.device);
    auto flash = bench.model->flash(1);
    flash->setContents(0xFF0000, std::vector<uint8_t>(200, 0x00)); // old record, to be erased
    CVN::USB::LoadEthernetMfgSettings::Record record;
    std::iota(record.begin(), record.end(), uint8_t(0x20));
    bench.clearLog();

    QVERIFY(bench.instance->load(record));
    if (!hasPort) {
        QVERIFY(bench.log().empty());
        QCOMPARE(flash->contents(0xFF0000, 200), std::vector<uint8_t>(200, 0x00));
        return;
    }
    QCOMPARE(flash->erasedBlocks(), std::vector<uint32_t>{255});
    QCOMPARE(flash->contents(0xFF0000, 86), std::vector<uint8_t>(record.begin(), record.end()));
    QCOMPARE(flash->contents(0xFF0000 + 86, 200 - 86), std::vector<uint8_t>(200 - 86, 0x00));
    QVERIFY(!bench.model->inHardwareAccess());
    for (uint32_t block = 0; block < 255; block += 17)
        QCOMPARE(flash->contents(block * 65536, 4), std::vector<uint8_t>(4, 0xFF));

    // Every step counts: a refused erase fails the load.
    bench.model->stallRequests(0xE0, 2);
    QVERIFY(!bench.instance->load(record));
    QVERIFY(!bench.model->inHardwareAccess());
}

QTEST_GUILESS_MAIN(Fx2RecorderTest)
#include "tst_fx2recorder.moc"
