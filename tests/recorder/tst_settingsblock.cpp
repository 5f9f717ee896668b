#include "blockbytes.h"

#include "plugins/recorder/settingsblock.h"

#include <QtTest>

namespace {

constexpr quint32 kMagic = 0x000C3C01;
constexpr quint32 kTrigger = 0xC3010005;
constexpr quint32 kCodec = 0xC3010001;

QByteArray contents(const SettingsBlock& block)
{
    return QByteArray(reinterpret_cast<const char*>(block.data()), int(block.totalLength()));
}

QByteArray headerOnlyBlock(quint32 total, int size)
{
    QByteArray bytes = beWords({total, kMagic, 0});
    bytes.resize(size, '\0');
    return bytes;
}

} // namespace

class TestSettingsBlock : public QObject
{
    Q_OBJECT
private slots:
    void emptyBlock_data();
    void emptyBlock();
    void inputChecks_data();
    void inputChecks();
    void nullInputIsRefused();
    void duplicateKeyLeavesBlockUnchanged();
    void addItemGrowsPastCapacity();
    void addItemRefusesBadItems_data();
    void addItemRefusesBadItems();
    void addItemStopsAtMaximumSize();
};

void TestSettingsBlock::emptyBlock_data()
{
    QTest::addColumn<quint32>("capacity");
    QTest::newRow("capacity 0") << 0u;
    QTest::newRow("capacity 5, below the header") << 5u;
    QTest::newRow("capacity 8192") << 8192u;
}

void TestSettingsBlock::emptyBlock()
{
    QFETCH(quint32, capacity);
    SettingsBlock block;
    QVERIFY(block.create(capacity));
    QCOMPARE(contents(block), QByteArray::fromHex("0000000C000C3C0100000000"));
    QVERIFY(block.capacity() >= 12);
    QCOMPARE(block.find(kTrigger), nullptr);
    QVERIFY(SettingsBlock::checkItems(block.data(), block.totalLength()));
    block.clear();
    QCOMPARE(block.data(), nullptr);
    QCOMPARE(block.totalLength(), 0u);
    QVERIFY(!block.addValue(kTrigger, 1));
}

void TestSettingsBlock::inputChecks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("header");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("items");
    QTest::addColumn<bool>("triggerReads");

    const QByteArray trigger2 = beWords({12, kTrigger, 2});
    QTest::newRow("total 0") << beWords({0, kMagic, 0}) << false << false << false << false;
    QTest::newRow("total 5") << headerOnlyBlock(5, 12) << false << false << false << false;
    QTest::newRow("total 11") << headerOnlyBlock(11, 12) << false << false << false << false;
    QTest::newRow("total 8193") << headerOnlyBlock(8193, 8193) << false << false << false << false;
    QTest::newRow("bad magic") << beWords({12, 0x000C3C02, 0}) << false << false << false << false;
    QTest::newRow("fewer bytes than a header")
        << beWords({12, kMagic}) << false << false << false << false;
    QTest::newRow("empty") << beWords({12, kMagic, 0}) << true << true << true << false;
    QTest::newRow("total 8192") << headerOnlyBlock(8192, 8192) << true << true << true << false;
    QTest::newRow("one item") << beWords({24, kMagic, 1}) + trigger2 << true << true << true
                              << true;
    QTest::newRow("trailing bytes after the block")
        << beWords({24, kMagic, 1}) + trigger2 + "junk" << true << true << true << true;
    QTest::newRow("total beyond the bytes")
        << beWords({40, kMagic, 1}) + trigger2 << true << false << false << false;
    QTest::newRow("item past the end")
        << beWords({24, kMagic, 1, 16, kTrigger, 2}) << true << true << false << false;
    QTest::newRow("item head past the end")
        << beWords({20, kMagic, 1, 12, kTrigger}) << true << true << false << false;
    QTest::newRow("second item missing")
        << beWords({24, kMagic, 2}) + trigger2 << true << true << false << true;
    QTest::newRow("count far beyond the items")
        << beWords({24, kMagic, 0xFFFFFFFF}) + trigger2 << true << true << false << true;
    QTest::newRow("item shorter than its head")
        << beWords({24, kMagic, 1, 4, kTrigger, 2}) << true << true << false << false;
    QTest::newRow("item length 0")
        << beWords({24, kMagic, 3, 0, kTrigger, 2}) << true << true << false << false;
    QTest::newRow("short value") << beWords({22, kMagic, 1, 10, kTrigger}) + QByteArray(2, '\2')
                                 << true << true << true << false;
    QTest::newRow("empty value") << beWords({20, kMagic, 1, 8, kTrigger}) << true << true << true
                                 << false;
    QTest::newRow("item after a broken one")
        << beWords({36, kMagic, 2, 4, kCodec, 0}) + trigger2 << true << true << false << false;
}

void TestSettingsBlock::inputChecks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, header);
    QFETCH(bool, loads);
    QFETCH(bool, items);
    QFETCH(bool, triggerReads);

    const std::vector<std::uint8_t> input = exact(bytes);
    QCOMPARE(SettingsBlock::isValidHeader(input.data(), input.size()), header);
    QCOMPARE(SettingsBlock::checkItems(input.data(), input.size()), items);

    SettingsBlock block;
    QVERIFY(block.create(0));
    QCOMPARE(block.load(input.data(), input.size()), loads);
    if (!loads) {
        // A refused block leaves nothing behind.
        QCOMPARE(block.data(), nullptr);
        QCOMPARE(block.find(kTrigger), nullptr);
        return;
    }
    QCOMPARE(block.capacity(), SettingsBlock::readU32(input.data()));
    QCOMPARE(contents(block), bytes.left(int(block.capacity())));

    quint32 value = 0xAAAAAAAA;
    QCOMPARE(block.findValue(kTrigger, value), triggerReads);
    QCOMPARE(value, triggerReads ? 2u : 0xAAAAAAAAu);
    // Walking a broken list for a missing key, or appending to it, stays inside the buffer.
    QCOMPARE(block.find(0x12345678), nullptr);
    if (block.addValue(0x12345678, 7) && items)
        QVERIFY(block.find(0x12345678));
}

void TestSettingsBlock::nullInputIsRefused()
{
    SettingsBlock block;
    QVERIFY(!SettingsBlock::isValidHeader(nullptr, 12));
    QVERIFY(!SettingsBlock::checkItems(nullptr, 12));
    QVERIFY(!block.load(nullptr, 12));
    QVERIFY(!block.addItem(nullptr, 12));
}

void TestSettingsBlock::duplicateKeyLeavesBlockUnchanged()
{
    SettingsBlock block;
    QVERIFY(block.create(8192));
    QVERIFY(block.addValue(kCodec, 1));
    QVERIFY(block.addValue(kTrigger, 2));
    const QByteArray before = contents(block);
    QVERIFY(!block.addValue(kTrigger, 1));
    QCOMPARE(contents(block), before);
    QCOMPARE(block.totalLength(), 36u);
    QCOMPARE(SettingsBlock::readU32(block.data() + 8), 2u);
}

void TestSettingsBlock::addItemGrowsPastCapacity()
{
    SettingsBlock block;
    QVERIFY(block.create(12));
    for (quint32 key = 1; key <= 5; ++key)
        QVERIFY(block.addValue(key, key * 100));
    QCOMPARE(block.totalLength(), 72u);
    QCOMPARE(block.capacity(), 72u);
    QVERIFY(SettingsBlock::checkItems(block.data(), block.totalLength()));
    for (quint32 key = 1; key <= 5; ++key) {
        quint32 value = 0;
        QVERIFY(block.findValue(key, value));
        QCOMPARE(value, key * 100);
    }

    // A longer item goes in whole, and the loaded copy still finds it.
    const QByteArray item = beWords({20, 9, 1, 2, 3});
    QVERIFY(block.addItem(reinterpret_cast<const std::uint8_t*>(item.constData()), 20));
    SettingsBlock copy;
    QVERIFY(copy.load(block.data(), block.totalLength()));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(copy.find(9)), 20), item);
}

void TestSettingsBlock::addItemRefusesBadItems_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<int>("size");
    QTest::newRow("length below its head") << beWords({4, 9, 0}) << 12;
    QTest::newRow("length beyond the bytes") << beWords({16, 9, 0}) << 12;
    QTest::newRow("fewer bytes than a head") << beWords({8, 9}) << 7;
}

void TestSettingsBlock::addItemRefusesBadItems()
{
    QFETCH(QByteArray, item);
    QFETCH(int, size);
    const std::vector<std::uint8_t> input = exact(item.left(size));
    SettingsBlock block;
    QVERIFY(block.create(8192));
    QVERIFY(!block.addItem(input.data(), input.size()));
    QCOMPARE(block.totalLength(), 12u);
}

void TestSettingsBlock::addItemStopsAtMaximumSize()
{
    // A block must stay one the device (and load) would take back.
    SettingsBlock block;
    QVERIFY(block.create(8192));
    QByteArray big = beWords({8180, 1});
    big.resize(8180, '\0');
    QVERIFY(block.addItem(reinterpret_cast<const std::uint8_t*>(big.constData()), 8180));
    QCOMPARE(block.totalLength(), 8192u);
    QVERIFY(!block.addValue(2, 0));
    QCOMPARE(block.totalLength(), 8192u);
    SettingsBlock copy;
    QVERIFY(copy.load(block.data(), block.totalLength()));
}

QTEST_APPLESS_MAIN(TestSettingsBlock)
#include "tst_settingsblock.moc"
