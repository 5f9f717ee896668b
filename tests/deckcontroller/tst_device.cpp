#include "deckbench.h"

#include "plugins/deckcontroller/deckcontrollerreplies.h"
#include "plugins/deckcontroller/streaming2xmegausbdevice.h"

#include <QtTest>

namespace {

std::shared_ptr<Sim::DeckControllerUnit> recoveryUnit()
{
    // Nothing bootable in either bank.
    return std::make_shared<Sim::DeckControllerUnit>();
}

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void notifierMakesAStreamDeviceOnlyForTheApplication();
    void firmwareStringOfTheDefaultModel();
    void firmwareStringFieldsAreEightDigits();
    void releaseIdIsTheSecondNumbersLowByte_data();
    void releaseIdIsTheSecondNumbersLowByte();
    void releaseIdThroughTheUnit();
    void unitNameRoundTrip_data();
    void unitNameRoundTrip();
    void everyServiceIsClosedAfterItsOperation();
    void recoveryIsProbedOnlyWithADelegate();
    void firmwareCurrentComparesFpgaAndCpuOnly();
    void applicationStateNeedsAReadyStream();
    void uniqueIdIsTheRegisteredOne();
    void unitWithoutIdHasNoUniqueId();
};

void TestDevice::notifierMakesAStreamDeviceOnlyForTheApplication()
{
    {
        DeckBench bench;
        QCOMPARE(int(bench.arrivals.size()), 1);
        auto stream = std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(bench.handle().device());
        QVERIFY(stream && stream->hasStream());
        QCOMPARE(stream->protocolVersion(), uint16_t(0x0101));
        QCOMPARE(stream->productId(), uint16_t(0xBE32));
        QCOMPARE(stream->vendorId(), uint16_t(0x2C4A));
        QVERIFY(bench.device());
    }
    // In its XMEGA boot loader the unit is a plain XMEGA device and no deck controller.
    Sim::DeckControllerUnit::DeckOptions options;
    options.bootloader = true;
    DeckBench bench(std::make_shared<Sim::DeckControllerUnit>(options));
    QCOMPARE(int(bench.arrivals.size()), 1);
    auto device = bench.handle().device();
    QVERIFY(device);
    QVERIFY(!std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(device));
    uint16_t productId = 0;
    QVERIFY(device->getProductId(productId));
    QCOMPARE(productId, uint16_t(0xC386));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, DeckControllerXmegaDevice(bench.handle()));
}

void TestDevice::firmwareStringOfTheDefaultModel()
{
    DeckBench bench;
    auto device = bench.device();
    std::string text;
    QVERIFY(device->getFirmwareString(text));
    QCOMPARE(QString::fromStdString(text),
             QStringLiteral("XMEGA:0x9abcdef0\nCPU:0xc0fb1f17\nFPGA:0x00000000"));
}

void TestDevice::firmwareStringFieldsAreEightDigits()
{
    DeckBench bench;
    bench.unit().setChecksums(0xFFFFFFFF, 0x1A2B);
    auto state = bench.unit().services().state();
    state.cpuChecksum = 0xF;
    state.fpgaVersion = 0x10000000;
    bench.unit().services().setState(state);
    auto device = bench.device();
    std::string text;
    QVERIFY(device->getFirmwareString(text));
    QCOMPARE(QString::fromStdString(text),
             QStringLiteral("XMEGA:0x00001a2b\nCPU:0x0000000f\nFPGA:0x10000000"));
}

void TestDevice::releaseIdIsTheSecondNumbersLowByte_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("id");
    QTest::newRow("prefixed") << "VERSION:7.1" << true << 1;
    QTest::newRow("bare") << "7.1" << true << 1;
    QTest::newRow("low byte") << "7-258" << true << 2;
    QTest::newRow("trailing text") << "12.34b" << true << 34;
    QTest::newRow("one number") << "7" << false << 0;
    QTest::newRow("no second number") << "7." << false << 0;
    QTest::newRow("letters") << "x.1" << false << 0;
    QTest::newRow("prefix only") << "VERSION:" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("overflow") << "7.99999999999" << false << 0;
}

void TestDevice::releaseIdIsTheSecondNumbersLowByte()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, id);
    uint16_t out = 0xFFFF;
    QCOMPARE(DeckControllerReplies::parseReleaseId(text.toStdString(), out), ok);
    if (ok)
        QCOMPARE(int(out), id);
}

void TestDevice::releaseIdThroughTheUnit()
{
    DeckBench bench;
    auto device = bench.device();
    uint16_t id = 0;
    QVERIFY(device->getReleaseId(id));
    QCOMPARE(id, uint16_t(1));
    std::string release;
    QVERIFY(device->getReleaseString(release));
    QCOMPARE(QString::fromStdString(release), QStringLiteral("7.1"));

    // The unit's field holds eight bytes: the text is cut there.
    auto state = bench.unit().services().state();
    state.releaseText = "1.2345678";
    bench.unit().services().setState(state);
    QVERIFY(device->getReleaseString(release));
    QCOMPARE(QString::fromStdString(release), QStringLiteral("1.234567"));
    QVERIFY(device->getReleaseId(id));
    QCOMPARE(id, uint16_t(234567 & 0xFF));
    state.releaseText = "VERSION:";
    bench.unit().services().setState(state);
    QVERIFY(!device->getReleaseId(id));
}

void TestDevice::unitNameRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ok");
    QTest::newRow("62 bytes of UTF-8") << QString(31, QChar(0x00C4)) << true;
    QTest::newRow("63 bytes") << QString(63, QLatin1Char('n')) << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("64 bytes") << QString(64, QLatin1Char('n')) << false;
}

void TestDevice::unitNameRoundTrip()
{
    QFETCH(QString, name);
    QFETCH(bool, ok);
    DeckBench bench;
    auto device = bench.device();
    const std::string bytes = name.toUtf8().toStdString();
    QCOMPARE(device->setUnitName(bytes), ok);
    std::string back;
    QVERIFY(device->getUnitName(back));
    QCOMPARE(QString::fromUtf8(back.c_str()), ok ? name : QStringLiteral("Alder"));
    QVERIFY(device->flushSettings());
    QCOMPARE(bench.unit().services().state().saves, 1);
    QCOMPARE(bench.unit().services().state().savedUnitName, back);
}

void TestDevice::everyServiceIsClosedAfterItsOperation()
{
    DeckBench bench;
    auto device = bench.device();
    std::string text;
    uint16_t id = 0;
    QVERIFY(device->getFirmwareString(text));
    QVERIFY(device->getUnitName(text));
    QVERIFY(device->flushSettings());
    QVERIFY(device->isFirmwareCurrent());
    QVERIFY(device->getReleaseId(id));
    QVERIFY(bench.unit().rpc().openHandles().empty());
    // Also when the call fails.
    QVERIFY(!device->setUnitName(std::string(70, 'x')));
    QVERIFY(bench.unit().rpc().openHandles().empty());
}

void TestDevice::recoveryIsProbedOnlyWithADelegate()
{
    DeckBench bench(recoveryUnit());
    QCOMPARE(bench.unit().persona(), Sim::DeckControllerUnit::Persona::Recovery);
    auto device = bench.device();
    bench.clearLog();
    QVERIFY(!device->isRecovery());
    QCOMPARE(bench.count(0x00), 0);

    NullDelegate delegate;
    device->setDelegate(&delegate);
    QVERIFY(device->isRecovery());
    QVERIFY(!device->isFirmwareCurrent());

    DeckBench running;
    auto app = running.device();
    app->setDelegate(&delegate);
    QVERIFY(!app->isRecovery());
    QCOMPARE(running.count(0x00), 1);
}

void TestDevice::firmwareCurrentComparesFpgaAndCpuOnly()
{
    DeckBench bench;
    // The XMEGA checksums play no part for this product.
    bench.unit().setChecksums(1, 2);
    auto device = bench.device();
    NullDelegate delegate;
    device->setDelegate(&delegate);
    QVERIFY(device->isFirmwareCurrent());
    QVERIFY(device->isFirmwareCompatible());

    auto state = bench.unit().services().state();
    state.cpuChecksum ^= 1;
    bench.unit().services().setState(state);
    QVERIFY(!device->isFirmwareCurrent());
    state = Sim::DeckControllerServices::State();
    state.fpgaVersion = 1;
    bench.unit().services().setState(state);
    QVERIFY(!device->isFirmwareCurrent());
}

void TestDevice::applicationStateNeedsAReadyStream()
{
    DeckBench bench;
    auto device = bench.device();
    QCOMPARE(int(device->getApplicationState()), 3);
    auto stream = std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(bench.handle().device());
    QVERIFY(stream->stop());
    QCOMPARE(int(device->getApplicationState()), 0);
}

void TestDevice::uniqueIdIsTheRegisteredOne()
{
    DeckBench bench;
    auto device = bench.device();
    std::string id;
    QVERIFY(device->getUniqueId(id));
    QCOMPARE(QString::fromStdString(id), QStringLiteral("dec00001420102030405060708090a0b"));
    // Gone from the bus, it still matches its own entry.
    Sim::UsbBus::instance().unplug(bench.unit().id());
    std::string again;
    QVERIFY(device->getUniqueId(again));
    QCOMPARE(again, id);
}

void TestDevice::unitWithoutIdHasNoUniqueId()
{
    Sim::DeckControllerUnit::DeckOptions options;
    options.uniqueId.fill(0xFF);
    DeckBench bench(DeckBench::bootableUnit(options));
    auto device = bench.device();
    std::string id = "untouched";
    QVERIFY(!device->getUniqueId(id));
    QCOMPARE(QString::fromStdString(id), QStringLiteral("untouched"));
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
