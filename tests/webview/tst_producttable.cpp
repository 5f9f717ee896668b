#include "plugins/webview/productrecord.h"

#include <QtTest>

class TestProductTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionGate_data();
    void versionGate();
    void tableRows_data();
    void tableRows();
    void buildsShareByGeneration();
};

void TestProductTable::versionGate_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("legacy");
    QTest::newRow("7.0") << "7.0" << true;
    QTest::newRow("7.5") << "7.5" << true;
    QTest::newRow("8.2.9") << "8.2.9" << true;
    QTest::newRow("8.3") << "8.3" << true;
    QTest::newRow("8.3.2") << "8.3.2" << true;
    QTest::newRow("8.3.2 with suffix") << "8.3.2-rc1" << true;
    QTest::newRow("6.9") << "6.9" << false;
    // A shorter version is below its own extension, so a bare 7 is under 7.0.
    QTest::newRow("7") << "7" << false;
    QTest::newRow("8.3.0") << "8.3.0" << false;
    QTest::newRow("8.3.1") << "8.3.1" << false;
    QTest::newRow("8.3.5") << "8.3.5" << false;
    QTest::newRow("8.3.2.1") << "8.3.2.1" << false;
    QTest::newRow("8.4") << "8.4" << false;
    QTest::newRow("9.0") << "9.0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("not a number") << "beta" << false;
}

void TestProductTable::versionGate()
{
    QFETCH(QString, version);
    QFETCH(bool, legacy);
    QCOMPARE(isLegacyReleaseVersion(version), legacy);
}

void TestProductTable::tableRows_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("hardwareRevision");
    QTest::addColumn<int>("installSeconds");
    QTest::newRow("be1d") << 0xBE1D << "Kestrel Alder One"
                          << ":/Alder" << 0x100 << 120;
    QTest::newRow("beac") << 0xBEAC << "Kestrel Alder Two"
                          << ":/Alder" << 0x100 << 120;
    QTest::newRow("be76") << 0xBE76 << "Kestrel Birch"
                          << ":/Birch" << 0x300 << 120;
    QTest::newRow("be7a") << 0xBE7A << "Kestrel Cedar"
                          << ":/Cedar" << 0x200 << 120;
    QTest::newRow("be7b") << 0xBE7B << "Kestrel Cedar Deluxe"
                          << ":/CedarSSD" << 0x200 << 120;
    QTest::newRow("be8c") << 0xBE8C << "Kestrel Dogwood"
                          << ":/Dogwood" << 0x200 << 360;
    QTest::newRow("be8d") << 0xBE8D << "Kestrel Elm"
                          << ":/Elm" << 0x100 << 120;
}

void TestProductTable::tableRows()
{
    QFETCH(int, productId);
    QFETCH(QString, name);
    QFETCH(QString, image);
    QFETCH(int, hardwareRevision);
    QFETCH(int, installSeconds);
    const ProductTable& table = supportedProducts();
    QCOMPARE(table.size(), size_t(7));
    const auto it = table.find(uint16_t(productId));
    QVERIFY(it != table.end());
    const ProductRecord& record = it->second;
    QCOMPARE(record.name, name);
    QCOMPARE(record.family, QString("Kestrel"));
    QCOMPARE(record.image, image);
    QCOMPARE(record.thumbnail, image + "Thumb");
    QCOMPARE(int(record.hardwareRevision), hardwareRevision);
    QCOMPARE(record.releaseVersion, QString("8.4"));
    QCOMPARE(record.firmwareFile, QString("data-%1.bin").arg(productId, 4, 16, QChar('0')));
    QCOMPARE(record.arrivalTimeoutSeconds, int64_t(10));
    QCOMPARE(record.installSeconds, int64_t(installSeconds));
    QVERIFY(record.aliasNames.empty());
    QCOMPARE(record.firmwareBuild.size(), 8);
    QCOMPARE(record.firmwareBuild, record.firmwareBuild.toLower());
    bool ok = false;
    record.firmwareBuild.toUInt(&ok, 16);
    QVERIFY(ok);
}

void TestProductTable::buildsShareByGeneration()
{
    const ProductTable& table = supportedProducts();
    const auto build = [&](uint16_t id) { return table.at(id).firmwareBuild; };
    QCOMPARE(build(0xBEAC), build(0xBE1D));
    QCOMPARE(build(0xBE7A), build(0xBE76));
    QCOMPARE(build(0xBE7B), build(0xBE76));
    const QSet<QString> distinct{build(0xBE1D), build(0xBE76), build(0xBE8C), build(0xBE8D)};
    QCOMPARE(distinct.size(), 4);
}

QTEST_GUILESS_MAIN(TestProductTable)
#include "tst_producttable.moc"
