#include "blockbytes.h"
#include "fakekestrel.h"

#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/settingsblock.h"

#include <QtTest>

Q_DECLARE_METATYPE(KestrelSettings)

char* toString(const KestrelSettings& s)
{
    return qstrdup(QStringLiteral("{legacyCodec %1, codecIndex %2, timecodeOutput %3, trigger %4}")
                       .arg(s.legacyCodec)
                       .arg(s.codecIndex)
                       .arg(s.timecodeOutput)
                       .arg(s.trigger)
                       .toLatin1()
                       .constData());
}

namespace {

constexpr quint32 kCodec = 0xC3010001;
constexpr quint32 kContainer = 0xC3010002;
constexpr quint32 kTimecode = 0xC3010004;
constexpr quint32 kTrigger = 0xC3010005;
constexpr int kUnreadable = -1;

quint32 code(const QByteArray& text)
{
    return SettingsBlock::readU32(reinterpret_cast<const std::uint8_t*>(text.constData()));
}

QByteArray item(quint32 key, quint32 value)
{
    return beWords({12, key, value});
}

QByteArray codecItem(const char* fourCC)
{
    return beWords({12, kCodec}) + QByteArray(fourCC, 4);
}

QByteArray blockOf(const QList<QByteArray>& items)
{
    const QByteArray body = items.join();
    return beWords({quint32(12 + body.size()), 0x000C3C01, quint32(items.size())}) + body;
}

KestrelSettings record(quint32 legacyCodec, quint32 codecIndex, bool timecode, quint32 trigger)
{
    KestrelSettings s;
    s.legacyCodec = legacyCodec;
    s.codecIndex = codecIndex;
    s.timecodeOutput = timecode;
    s.trigger = trigger;
    return s;
}

// A device whose product id or capabilities may be unreadable (kUnreadable).
void script(FakeKestrel& device, int productId, int capabilities)
{
    device.productId =
        productId == kUnreadable ? std::nullopt : std::optional<std::uint16_t>(productId);
    device.capabilities =
        capabilities == kUnreadable ? std::nullopt : std::optional<std::uint32_t>(capabilities);
}

QByteArray written(const FakeKestrel& device)
{
    if (device.writtenBlocks.empty())
        return {};
    const auto& last = device.writtenBlocks.back();
    return QByteArray(reinterpret_cast<const char*>(last.data()), int(last.size()));
}

} // namespace

class TestKestrelSettings : public QObject
{
    Q_OBJECT
private slots:
    void legacyExampleBlock();
    void codecRules_data();
    void codecRules();
    void parse_data();
    void parse();
    void build_data();
    void build();
    void roundTrip();
    void readFailureKeepsRecord_data();
    void readFailureKeepsRecord();
    void writeReportsDeviceResult();
};

void TestKestrelSettings::legacyExampleBlock()
{
    const QByteArray expected = QByteArray::fromHex("0000003C000C3C0100000004"
                                                    "0000000CC3010001"
                                                    "4156646E"
                                                    "0000000CC301000200000002"
                                                    "0000000CC301000401000000"
                                                    "0000000CC301000500000002");
    FakeKestrel device(0xC3A6, 0x31);
    const KestrelSettings settings = record(6, 0, true, 2);

    QVERIFY(device.writeSettings(settings));
    QCOMPARE(written(device), expected);

    device.settingsBlock = exact(expected);
    KestrelSettings read;
    QVERIFY(device.readSettings(read));
    QCOMPARE(read, settings);
}

void TestKestrelSettings::codecRules_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("capabilities");
    QTest::addColumn<QByteArrayList>("supported");

    const QByteArrayList proRes{"apch", "apcn", "apcs", "apco"};
    QTest::newRow("Pocket, ProRes") << 0xC34C << 0x10 << QByteArrayList{"v210"} + proRes;
    QTest::newRow("Pocket, no options") << 0xC34C << 0x00 << QByteArrayList{"v210"};
    QTest::newRow("Pocket, capabilities unreadable")
        << 0xC34C << kUnreadable << QByteArrayList{"v210"};
    QTest::newRow("Pocket 2, ProRes") << 0xC35A << 0x11 << proRes;
    QTest::newRow("Pocket 2, no options") << 0xC35A << 0x01 << QByteArrayList{"v210"};
    QTest::newRow("Pocket 2, capabilities unreadable")
        << 0xC35A << kUnreadable << QByteArrayList{"v210"};
    QTest::newRow("Bench Max v1, everything")
        << 0xC367 << 0x31 << QByteArrayList{"v210", "AVdn"} + proRes;
    QTest::newRow("Bench Max, DNx") << 0xC3A3 << 0x20 << QByteArrayList{"v210", "AVdn"};
    QTest::newRow("Bench, everything") << 0xC34D << 0x31 << QByteArrayList{"v210", "AVdn"} + proRes;
    QTest::newRow("Bench UHD, everything")
        << 0xC3A6 << 0x31 << QByteArrayList{"v210", "AVdn", "AVdh"} + proRes;
    QTest::newRow("Bench UHD, DNx") << 0xC3A6 << 0x20 << QByteArrayList{"v210", "AVdn", "AVdh"};
    QTest::newRow("Bench UHD, ProRes") << 0xC3A6 << 0x10 << QByteArrayList{"v210"} + proRes;
    QTest::newRow("Bench UHD, capabilities unreadable")
        << 0xC3A6 << kUnreadable << QByteArrayList{"v210"};
    QTest::newRow("Bench Lite, everything")
        << 0xC3E4 << 0x31 << QByteArrayList{"v210", "AVdn"} + proRes;
    QTest::newRow("Bench Lite v2, everything")
        << 0xBE0F << 0x31 << QByteArrayList{"v210", "AVdn"} + proRes;
    QTest::newRow("product id unreadable")
        << kUnreadable << 0x31 << QByteArrayList{"v210", "AVdn"} + proRes;
    QTest::newRow("nothing readable") << kUnreadable << kUnreadable << QByteArrayList{"v210"};
}

void TestKestrelSettings::codecRules()
{
    QFETCH(int, productId);
    QFETCH(int, capabilities);
    QFETCH(QByteArrayList, supported);

    FakeKestrel device;
    script(device, productId, capabilities);
    const QByteArrayList codecs{"v210", "apch", "apcn", "apcs", "apco",
                                "AVdn", "AVdh", "apc ", "AVDN", QByteArray(4, '\0')};
    for (const QByteArray& fourCC : codecs) {
        const bool expected = supported.contains(fourCC);
        if (KestrelSettings::isCodecSupported(code(fourCC), device) != expected)
            QFAIL(qPrintable(
                QStringLiteral("%1 should be %2")
                    .arg(QString::fromLatin1(fourCC), expected ? "supported" : "refused")));
    }
}

void TestKestrelSettings::parse_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("capabilities");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<KestrelSettings>("expected");

    const int uhd = 0xC3A6;
    QTest::newRow("empty block") << uhd << 0x31 << blockOf({}) << record(0, 0, false, 0);
    QTest::newRow("ProRes HQ") << uhd << 0x31 << blockOf({codecItem("apch")})
                               << record(1, 0, false, 0);
    QTest::newRow("ProRes Proxy") << uhd << 0x31 << blockOf({codecItem("apco")})
                                  << record(4, 0, false, 0);
    QTest::newRow("ProRes on a unit without ProRes")
        << uhd << 0x21 << blockOf({codecItem("apch")}) << record(0, 0, false, 0);
    QTest::newRow("DNxHD in MXF") << uhd << 0x31
                                  << blockOf({codecItem("AVdn"), item(kContainer, 2)})
                                  << record(6, 0, false, 0);
    QTest::newRow("DNxHD in QuickTime")
        << uhd << 0x31 << blockOf({item(kContainer, 1), codecItem("AVdn")})
        << record(5, 0, false, 0);
    QTest::newRow("DNxHD without container")
        << uhd << 0x31 << blockOf({codecItem("AVdn")}) << record(5, 0, false, 0);
    QTest::newRow("DNxHR in MXF") << uhd << 0x31
                                  << blockOf({codecItem("AVdh"), item(kContainer, 2)})
                                  << record(8, 0, false, 0);
    QTest::newRow("DNxHR on a Bench")
        << 0xC34D << 0x31 << blockOf({codecItem("AVdh"), item(kContainer, 2)})
        << record(0, 0, false, 0);
    QTest::newRow("unknown FourCC")
        << uhd << 0x31 << blockOf({codecItem("abcd")}) << record(0, 0, false, 0);
    QTest::newRow("short codec value")
        << uhd << 0x31 << blockOf({beWords({11, kCodec}) + "apc"}) << record(0, 0, false, 0);
    QTest::newRow("timecode on") << uhd << 0x31 << blockOf({item(kTimecode, 0x01000000)})
                                 << record(0, 0, true, 0);
    QTest::newRow("timecode, only a later byte set")
        << uhd << 0x31 << blockOf({item(kTimecode, 0x00000001)}) << record(0, 0, false, 0);
    QTest::newRow("timecode, one value byte")
        << uhd << 0x31 << blockOf({beWords({9, kTimecode}) + '\1'}) << record(0, 0, false, 0);
    QTest::newRow("trigger SDI") << uhd << 0x31 << blockOf({item(kTrigger, 1)})
                                 << record(0, 0, false, 1);
    QTest::newRow("trigger timecode run")
        << uhd << 0x31 << blockOf({item(kTrigger, 2)}) << record(0, 0, false, 2);
    QTest::newRow("trigger 3 reads as never")
        << uhd << 0x31 << blockOf({item(kTrigger, 3)}) << record(0, 0, false, 0);
    QTest::newRow("all four on a Pocket")
        << 0xC34C << 0x11
        << blockOf({item(kTrigger, 1), item(kTimecode, 0x01000000), codecItem("apcs"),
                    item(kContainer, 1)})
        << record(3, 0, true, 1);
    QTest::newRow("Bench Lite: codec index")
        << 0xC3E4 << 0x31 << blockOf({item(kCodec, 7), item(kTrigger, 1)}) << record(0, 7, true, 1);
    QTest::newRow("Bench Lite: no codec") << 0xBE0F << 0x31 << blockOf({}) << record(0, 0, true, 0);
    QTest::newRow("product id unreadable: not legacy")
        << kUnreadable << 0x31 << blockOf({item(kCodec, 3)}) << record(0, 3, true, 0);
}

void TestKestrelSettings::parse()
{
    QFETCH(int, productId);
    QFETCH(int, capabilities);
    QFETCH(QByteArray, block);
    QFETCH(KestrelSettings, expected);

    FakeKestrel device;
    script(device, productId, capabilities);
    device.settingsBlock = exact(block);
    KestrelSettings read = record(9, 9, true, 9);
    QVERIFY(device.readSettings(read));
    QCOMPARE(read, expected);
}

void TestKestrelSettings::build_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<KestrelSettings>("settings");
    QTest::addColumn<QByteArray>("expected");

    struct Row
    {
        const char* fourCC;
        quint32 container;
    };
    const Row legacy[] = {{"v210", 1},
                          {"apch", 1},
                          {"apcn", 1},
                          {"apcs", 1},
                          {"apco", 1},
                          {"AVdn", 1},
                          {"AVdn", 2},
                          {"AVdh", 1},
                          {"AVdh", 2},
                          // Outside the table: uncompressed.
                          {"v210", 1}};
    for (quint32 i = 0; i < std::size(legacy); ++i) {
        QTest::addRow("legacy codec %u", i)
            << 0xC34C << record(i, 5, false, 1)
            << blockOf({codecItem(legacy[i].fourCC), item(kContainer, legacy[i].container),
                        item(kTimecode, 0), item(kTrigger, 1)});
    }
    // Unsupported codecs are still written: the device decides.
    QTest::newRow("legacy, DNxHR on a Pocket")
        << 0xC34C << record(8, 0, true, 2)
        << blockOf({codecItem("AVdh"), item(kContainer, 2), item(kTimecode, 0x01000000),
                    item(kTrigger, 2)});
    QTest::newRow("trigger 5 written as never")
        << 0xC3A6 << record(1, 0, false, 5)
        << blockOf({codecItem("apch"), item(kContainer, 1), item(kTimecode, 0), item(kTrigger, 0)});
    QTest::newRow("Bench Lite: codec index only")
        << 0xC3E4 << record(3, 12, true, 2) << blockOf({item(kCodec, 12), item(kTrigger, 2)});
    QTest::newRow("product id unreadable")
        << kUnreadable << record(3, 4, true, 1) << blockOf({item(kCodec, 4), item(kTrigger, 1)});
}

void TestKestrelSettings::build()
{
    QFETCH(int, productId);
    QFETCH(KestrelSettings, settings);
    QFETCH(QByteArray, expected);

    FakeKestrel device;
    script(device, productId, 0x31);
    QVERIFY(device.writeSettings(settings));
    QCOMPARE(written(device).toHex(' '), expected.toHex(' '));
}

void TestKestrelSettings::roundTrip()
{
    FakeKestrel device(0xC3A6, 0x31);
    for (quint32 codec = 0; codec < KestrelSettings::kLegacyCodecCount; ++codec) {
        for (quint32 trigger = 0; trigger <= 2; ++trigger) {
            for (bool timecode : {false, true}) {
                const KestrelSettings settings = record(codec, 0, timecode, trigger);
                QVERIFY(device.writeSettings(settings));
                device.settingsBlock = device.writtenBlocks.back();
                KestrelSettings read;
                QVERIFY(device.readSettings(read));
                QCOMPARE(read, settings);
            }
        }
    }
}

void TestKestrelSettings::readFailureKeepsRecord_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::newRow("nothing read") << QByteArray();
    QTest::newRow("bad magic") << QByteArray::fromHex("0000000C000C3C0200000000");
    QTest::newRow("item past the end") << beWords({24, 0x000C3C01, 1, 16, kTrigger, 2});
}

void TestKestrelSettings::readFailureKeepsRecord()
{
    QFETCH(QByteArray, block);
    FakeKestrel device;
    device.settingsBlock = exact(block);
    KestrelSettings kept = record(2, 3, true, 1);
    QVERIFY(!device.readSettings(kept));
    QCOMPARE(kept, record(2, 3, true, 1));
}

void TestKestrelSettings::writeReportsDeviceResult()
{
    FakeKestrel device;
    device.blockWriteResult = false;
    QVERIFY(!device.writeSettings(record(1, 0, false, 0)));
    QCOMPARE(device.callCount("writeSettingsBlock"), 1);
}

QTEST_APPLESS_MAIN(TestKestrelSettings)
#include "tst_kestrelsettings.moc"
