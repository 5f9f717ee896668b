#include "recorderwatch.h"
#include "tests/usb/fx2fixture.h"

#include "plugins/recorder/ikestrel.h"
#include "plugins/recorder/kestrelfx2usbnotifier.h"
#include "plugins/recorder/kestrelusbconnection.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"
#include "plugins/recorder/kestrelxmegastreamingusbnotifier.h"
#include "plugins/recorder/kestrelxmegausbnotifier.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/recorder/streamingrecorder.h"
#include "sim/recorder/xmegamailboxrecorder.h"

#include <QtTest>

#include <functional>

using namespace CVN::DiskRecorder;

namespace {

Fx2RamImageTable imageTable()
{
    const auto image = concat({fx2Record(0x0000, patternBytes(48, 1)), fx2EndRecord()});
    return Fx2RamImageTable({{0xC34D, image}});
}

// One simulated unit of a generation on the bus, its notifier watching, the connection's
// pauses on a clock that does not sleep.
struct Unit
{
    virtual ~Unit() = default;
    virtual bool start() = 0;
    virtual IKestrel* device() = 0;
    // Makes the unit report that it records (or stops); false where it never does.
    virtual bool setBusy(bool busy) = 0;
};

template<class Notifier, class Model> struct UnitOf : Unit
{
    template<class... Args>
    UnitOf(std::shared_ptr<Model> model, Args&&... args)
        : model(std::move(model))
        , watch(std::forward<Args>(args)...)
    {
        Sim::UsbBus::instance().plug(this->model);
    }
    bool start() override { return watch.start(); }
    IKestrel* device() override
    {
        return watch.family.arrivals.empty() ? nullptr : watch.family.arrivals.back();
    }
    bool setBusy(bool busy) override
    {
        if constexpr (std::is_same_v<Model, Sim::StreamingRecorder>) {
            Q_UNUSED(busy);
            return false;
        } else {
            model->setStatus(busy ? 0x39 : 0x31);
            return true;
        }
    }
    std::shared_ptr<Model> model;
    Watch<Notifier> watch;
};

std::unique_ptr<Unit> makeUnit(const QString& generation)
{
    // Each unit runs the firmware this program ships.
    if (generation == "fx2") {
        auto model = std::make_shared<Sim::Fx2Recorder>(0xC34D);
        model->setFirmware(0x2D, 0x1A6291BD);
        return std::make_unique<UnitOf<KestrelFX2USBNotifier, Sim::Fx2Recorder>>(model,
                                                                                 imageTable());
    }
    if (generation == "mailbox") {
        auto model = std::make_shared<Sim::XmegaMailboxRecorder>();
        model->setFirmware(0x10, 0x16327E57);
        return std::make_unique<UnitOf<KestrelXmegaUSBNotifier, Sim::XmegaMailboxRecorder>>(model);
    }
    auto model = std::make_shared<Sim::StreamingRecorder>();
    model->setChecksums(KestrelXmegaStreamingUSBDevice::kExpectedXmegaChecksum,
                        KestrelXmegaStreamingUSBDevice::kExpectedXmegaChecksum);
    return std::make_unique<UnitOf<KestrelXmegaStreamingUSBNotifier, Sim::StreamingRecorder>>(
        model);
}

} // namespace

class ConnectionSimTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { KestrelUSBConnection::resetFailureCount(); }
    void cleanup() { Sim::UsbBus::instance().reset(); }

    void generations_data();
    void savedSettingsReachTheUnit_data() { generations_data(); }
    void savedSettingsReachTheUnit();
    // The streaming generation never reports that it records, so it has no busy case.
    void busyUnitKeepsItsSettings_data();
    void busyUnitKeepsItsSettings();
};

void ConnectionSimTest::generations_data()
{
    QTest::addColumn<QString>("generation");
    QTest::newRow("fx2") << "fx2";
    QTest::newRow("xmega mailbox") << "mailbox";
    QTest::newRow("streaming") << "streaming";
}

void ConnectionSimTest::busyUnitKeepsItsSettings_data()
{
    QTest::addColumn<QString>("generation");
    QTest::newRow("fx2") << "fx2";
    QTest::newRow("xmega mailbox") << "mailbox";
}

void ConnectionSimTest::savedSettingsReachTheUnit()
{
    QFETCH(QString, generation);
    auto unit = makeUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    auto clock = std::make_shared<ManualClock>();
    KestrelUSBConnection connection(unit->device(), 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(clock);
    QSignalSpy opened(&connection, &KestrelConnection::connectionOpened);
    QSignalSpy flushed(&connection, &KestrelConnection::settingsFlushed);
    QSignalSpy lost(&connection, &KestrelConnection::connectionLost);

    connection.pollConnection();
    QVERIFY(connection.isOpen());
    QCOMPARE(opened.count(), 1);

    KestrelSettings wanted = connection.settings();
    wanted.trigger = wanted.trigger == KestrelSettings::kTriggerSdi
                         ? KestrelSettings::kTriggerTimecodeRun
                         : KestrelSettings::kTriggerSdi;
    connection.setSettings(wanted);
    QCOMPARE(lost.count(), 0);
    QCOMPARE(flushed.count(), 1);
    QVERIFY(!connection.hasSettingsError());
    // The unit answered at the first look: no pause.
    QCOMPARE(clock->sleeps(), 0);

    KestrelSettings onUnit;
    QVERIFY(unit->device()->readSettings(onUnit));
    QCOMPARE(onUnit.trigger, wanted.trigger);
}

void ConnectionSimTest::busyUnitKeepsItsSettings()
{
    QFETCH(QString, generation);
    auto unit = makeUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    QVERIFY(unit->setBusy(true));
    KestrelSettings before;
    QVERIFY(unit->device()->readSettings(before));
    KestrelUSBConnection connection(unit->device(), 1, nullptr);
    connection.stopPolling();
    connection.setWaitClock(std::make_shared<ManualClock>());
    QSignalSpy busy(&connection, &KestrelConnection::deviceBusy);
    QSignalSpy flushed(&connection, &KestrelConnection::settingsFlushed);

    KestrelSettings wanted = before;
    wanted.trigger = before.trigger == KestrelSettings::kTriggerSdi
                         ? KestrelSettings::kTriggerTimecodeRun
                         : KestrelSettings::kTriggerSdi;
    connection.setSettings(wanted);
    QCOMPARE(busy.count(), 1);
    QCOMPARE(flushed.count(), 0);
    QVERIFY(connection.hasSettingsError());
    KestrelSettings after;
    QVERIFY(unit->device()->readSettings(after));
    QCOMPARE(after.trigger, before.trigger);

    // Once the unit stops recording, the kept settings go out.
    unit->setBusy(false);
    connection.retryWrite();
    QCOMPARE(flushed.count(), 1);
    QVERIFY(unit->device()->readSettings(after));
    QCOMPARE(after.trigger, wanted.trigger);
}

QTEST_MAIN(ConnectionSimTest)
#include "tst_connectionsim.moc"
