#include "fakekestrel.h"

#include "plugins/recorder/kestrelmodeltable.h"

#include <QtTest>

#include <thread>

class TestDevice : public QObject
{
    Q_OBJECT
private slots:
    void modelTable_data();
    void modelTable();
    void isLegacy_data();
    void isLegacy();
    void lastReleaseDeletesOnce();
    void lastReleaseOnAnotherThread();
};

void TestDevice::modelTable_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("thumbnail");
    QTest::addColumn<int>("backEnd");

    QTest::newRow("c34c") << 0xC34C << 0 << "Kestrel Pocket"
                          << ":/Lark"
                          << ":/LarkThumb" << int(KestrelModelTable::FX2);
    QTest::newRow("c35a") << 0xC35A << 1 << "Kestrel Pocket 2"
                          << ":/Lark2"
                          << ":/Lark2Thumb" << int(KestrelModelTable::FX2);
    QTest::newRow("c3a3") << 0xC3A3 << 2 << "Kestrel Bench Max"
                          << ":/Heron"
                          << ":/HeronThumb" << int(KestrelModelTable::FX2);
    QTest::newRow("c367") << 0xC367 << 2 << "Kestrel Bench Max"
                          << ":/Heron"
                          << ":/HeronThumb" << int(KestrelModelTable::FX2);
    QTest::newRow("c34d") << 0xC34D << 3 << "Kestrel Bench"
                          << ":/Wren"
                          << ":/WrenThumb" << int(KestrelModelTable::FX2);
    QTest::newRow("c3a6") << 0xC3A6 << 4 << "Kestrel Bench UHD"
                          << ":/Wren3"
                          << ":/Wren3Thumb" << int(KestrelModelTable::XmegaMailbox);
    QTest::newRow("c3e4") << 0xC3E4 << 5 << "Kestrel Bench Lite"
                          << ":/Finch"
                          << ":/FinchThumb" << int(KestrelModelTable::XmegaStreaming);
    QTest::newRow("be0f") << 0xBE0F << 5 << "Kestrel Bench Lite"
                          << ":/Finch"
                          << ":/FinchThumb" << int(KestrelModelTable::XmegaStreaming);
    QTest::newRow("unknown") << 0xBE32 << 6 << "Kestrel" << QString() << QString()
                             << int(KestrelModelTable::NoBackEnd);
    QTest::newRow("zero") << 0x0000 << 6 << "Kestrel" << QString() << QString()
                          << int(KestrelModelTable::NoBackEnd);
}

void TestDevice::modelTable()
{
    QFETCH(int, productId);
    QFETCH(int, model);
    QFETCH(QString, name);
    QFETCH(QString, image);
    QFETCH(QString, thumbnail);
    QFETCH(int, backEnd);

    QCOMPARE(KestrelModelTable::model(quint16(productId)), model);
    QCOMPARE(KestrelModelTable::name(model), name);
    QCOMPARE(KestrelModelTable::productImage(model), image);
    QCOMPARE(KestrelModelTable::thumbnail(model), thumbnail);
    QCOMPARE(int(KestrelModelTable::backEnd(model)), backEnd);
}

void TestDevice::isLegacy_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<bool>("legacy");
    for (int id : {0xC34C, 0xC34D, 0xC35A, 0xC367, 0xC3A3, 0xC3A6})
        QTest::addRow("%04x", id) << id << true;
    for (int id : {0xC3E4, 0xBE0F, 0xBE32, 0x0000})
        QTest::addRow("%04x", id) << id << false;
    QTest::newRow("product id unreadable") << -1 << false;
}

void TestDevice::isLegacy()
{
    QFETCH(int, productId);
    QFETCH(bool, legacy);
    FakeKestrel device;
    device.productId = productId < 0 ? std::nullopt : std::optional<std::uint16_t>(productId);
    QCOMPARE(device.isLegacy(), legacy);
}

void TestDevice::lastReleaseDeletesOnce()
{
    std::atomic<int> destroyed{0};
    auto* device = new FakeKestrel;
    device->destroyed = &destroyed;
    device->addRef();
    device->addRef();
    QCOMPARE(device->release(), 2u);
    QCOMPARE(device->release(), 1u);
    QCOMPARE(destroyed.load(), 0);
    QCOMPARE(device->release(), 0u);
    QCOMPARE(destroyed.load(), 1);
}

void TestDevice::lastReleaseOnAnotherThread()
{
    // Two threads drop their references at once; whichever drops the last one deletes, once.
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> destroyed{0};
        auto* device = new FakeKestrel;
        device->destroyed = &destroyed;
        constexpr int kEach = 100;
        for (int i = 1; i < 2 * kEach; ++i)
            device->addRef();
        std::thread updater([device] {
            for (int i = 0; i < kEach; ++i)
                device->release();
        });
        for (int i = 0; i < kEach; ++i)
            device->release();
        updater.join();
        QCOMPARE(destroyed.load(), 1);
    }
}

QTEST_APPLESS_MAIN(TestDevice)
#include "tst_device.moc"
