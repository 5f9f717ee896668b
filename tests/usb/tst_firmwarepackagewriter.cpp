#include "usb/firmware/firmwarepackage.h"

#include "firmwarepackagemanifest.h"
#include "firmwarepackagewriter.h"

#include <QtTest>

using Bytes = FirmwarePackageWriter::Bytes;

namespace {

constexpr std::uint32_t kResource = 0x2C4AC34C;

Bytes fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

} // namespace

class TestFirmwarePackageWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void manifestWritesReadablePackage();
    void manifestOverridesReachTheFile();
    void manifestErrorsNameTheLine_data();
    void manifestErrorsNameTheLine();
    void toolWritesAndResigns();
    void toolRefusesBadInput();

private:
    int runTool(const QStringList& arguments, QByteArray* errors = nullptr);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFirmwarePackageWriter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

int TestFirmwarePackageWriter::runTool(const QStringList& arguments, QByteArray* errors)
{
    QProcess tool;
    tool.setWorkingDirectory(m_dir->path());
    tool.start(QStringLiteral(PELLWORTH_PACKAGE_TOOL), arguments);
    if (!tool.waitForFinished(30000))
        return -1;
    if (errors)
        *errors = tool.readAllStandardError();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

void TestFirmwarePackageWriter::manifestWritesReadablePackage()
{
    QFile image(m_dir->filePath("fpga.rbf"));
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write("the fpga image");
    image.close();

    const std::vector<std::string> lines = {
        "# two packages",
        "package compression=zlib flags=0x02 wordA=7 wordB=0xFFFFFFFF",
        "payload fill=0x41 size=10000",
        "payload text=tail",
        "descriptor product=0xC34C target=2 region=1 address=0x08000000  # main image",
        "descriptor product=0xC34D",
        "",
        "package",
        "payload file=fpga.rbf",
        "descriptor product=0xC34C target=255 type=2 length=24 wordC=5 halfD=6",
    };
    FirmwarePackageWriter writer;
    std::string error;
    QVERIFY2(FirmwarePackageManifest::apply(lines, m_dir->path().toStdString(), writer, &error),
             error.c_str());
    const QString path = m_dir->filePath("data-c34c.bin");
    QVERIFY2(writer.write(path.toStdString(), &error), error.c_str());

    FirmwarePackage reader;
    reader.setPath(path.toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(2));

    const std::string text = std::string(10000, 'A') + "tail";
    const Bytes expected(text.begin(), text.end());
    QCOMPARE(list[0]->compressed(), 1u);
    QCOMPARE(list[0]->kind(), 2u);
    QCOMPARE(list[0]->packageWordA(), 7u);
    QCOMPARE(list[0]->packageWordB(), 0xFFFFFFFFu);
    QCOMPARE(list[0]->target(), std::uint8_t(2));
    QCOMPARE(list[0]->region(), std::uint8_t(1));
    QCOMPARE(list[0]->loadAddress(), 0x08000000u);
    QCOMPARE(list[0]->size(), 10004u);
    QVERIFY(Bytes(list[0]->data(), list[0]->data() + list[0]->size()) == expected);

    QCOMPARE(list[1]->compressed(), 0u);
    QCOMPARE(list[1]->target(), std::uint8_t(255));
    QCOMPARE(list[1]->descriptorWordC(), 5u);
    QCOMPARE(list[1]->descriptorHalfD(), std::uint16_t(6));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(list[1]->data()), int(list[1]->size())),
             QByteArray("the fpga image"));
}

void TestFirmwarePackageWriter::manifestOverridesReachTheFile()
{
    const std::vector<std::string> lines = {
        "package compression=2 magic=0x1234 headerSize=50 packageLength=60 "
        "uncompressedSize=9",
        "stored hex=00ff",
        "payload random=1 size=5",
        "descriptor resourceType=2 resourceId=0x11223344 length=16 lengthField=25",
        "trailing fill=0xEE size=3",
    };
    FirmwarePackageWriter writer;
    std::string error;
    QVERIFY2(FirmwarePackageManifest::apply(lines, ".", writer, &error), error.c_str());
    const Bytes file = writer.build();
    // digest, header, one 16-byte descriptor, the stored bytes, the trailing bytes
    QCOMPARE(file.size(), std::size_t(32 + 24 + 16 + 2 + 3));
    const Bytes header(file.begin() + 32, file.begin() + 56);
    const Bytes expectedHeader = {0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60,
                                  0,    50,   2, 0, 0, 0, 0, 9, 0, 0, 0, 0};
    QVERIFY(header == expectedHeader);
    QCOMPARE(file[56 + 2], std::uint8_t(0));
    QCOMPARE(file[56 + 3], std::uint8_t(25));
    QCOMPARE(file[56 + 11], std::uint8_t(2));
    QCOMPARE(file[72], std::uint8_t(0x00));
    QCOMPARE(file[73], std::uint8_t(0xFF));
    QCOMPARE(file[76], std::uint8_t(0xEE));

    // The digest covers whatever was written.
    Bytes resigned = file;
    resigned[0] ^= 1;
    FirmwarePackageWriter::sign(resigned, writer.key());
    QVERIFY(resigned == file);
}

void TestFirmwarePackageWriter::manifestErrorsNameTheLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown directive") << "pakage"
                                       << "line 2: unknown directive";
    QTest::newRow("unknown key") << "package colour=red"
                                 << "line 2: unknown key \"colour\"";
    QTest::newRow("bad number") << "descriptor target=256"
                                << "line 2: bad value for target";
    QTest::newRow("negative") << "descriptor address=-1"
                              << "line 2: bad value for address";
    QTest::newRow("hex garbage") << "descriptor address=0xZZ"
                                 << "line 2: bad value for address";
    QTest::newRow("not key=value") << "payload fill"
                                   << "line 2: expected key=value";
    QTest::newRow("no source") << "payload size=3"
                               << "line 2: no source";
    QTest::newRow("missing file") << "payload file=nothing.bin"
                                  << "line 2: cannot open";
    QTest::newRow("odd hex") << "payload hex=abc"
                             << "line 2: odd number of hex digits";
    QTest::newRow("key twice") << "descriptor target=1 target=2"
                               << "line 2: \"target\" given twice";
}

void TestFirmwarePackageWriter::manifestErrorsNameTheLine()
{
    QFETCH(QString, line);
    QFETCH(QString, message);
    FirmwarePackageWriter writer;
    std::string error;
    QVERIFY(!FirmwarePackageManifest::apply({"package", line.toStdString()},
                                            m_dir->path().toStdString(), writer, &error));
    QVERIFY2(QString::fromStdString(error).startsWith(message), error.c_str());

    FirmwarePackageWriter empty;
    QVERIFY(!FirmwarePackageManifest::apply({"descriptor product=1"}, ".", empty, &error));
    QCOMPARE(QString::fromStdString(error), QString("line 1: descriptor before the first package"));
}

void TestFirmwarePackageWriter::toolWritesAndResigns()
{
    QFile manifest(m_dir->filePath("data.manifest"));
    QVERIFY(manifest.open(QIODevice::WriteOnly));
    manifest.write("package compression=zlib\npayload fill=3 size=3000\n"
                   "descriptor product=0xC34C\n");
    manifest.close();

    QCOMPARE(runTool({"-o", "out/data-c34c.bin", "-m", "data.manifest", "package",
                      "payload text=second", "descriptor product=0xC34C target=1"}),
             1); // the output folder does not exist
    QVERIFY(QDir(m_dir->path()).mkdir("out"));
    QCOMPARE(runTool({"-o", "out/data-c34c.bin", "-m", "data.manifest", "package",
                      "payload text=second", "descriptor product=0xC34C target=1"}),
             0);

    const QString path = m_dir->filePath("out/data-c34c.bin");
    FirmwarePackage reader;
    reader.setPath(path.toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(2));
    QCOMPARE(list[0]->size(), 3000u);
    QCOMPARE(list[1]->target(), std::uint8_t(1));

    // Edit a descriptor byte by hand, then re-sign: the digest holds and the edit stays.
    Bytes edited = fileBytes(path);
    const std::size_t descriptor = 32 + 24;
    edited[descriptor + 9] = 0x42;
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(reinterpret_cast<const char*>(edited.data()), qint64(edited.size()));
    out.close();
    reader.setPath(path.toStdString());
    QCOMPARE(reader.readEntries(1, kResource, list), 5);

    QCOMPARE(runTool({"--resign", path}), 0);
    reader.setPath(path.toStdString());
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list[0]->target(), std::uint8_t(0x42));
}

void TestFirmwarePackageWriter::toolRefusesBadInput()
{
    QByteArray errors;
    QCOMPARE(runTool({"-o", "x.bin", "package", "payload bogus=1"}, &errors), 1);
    QVERIFY2(errors.contains("line 2"), errors.constData());
    QVERIFY(!QFile::exists(m_dir->filePath("x.bin")));
    QCOMPARE(
        runTool({"-o", "x.bin", "package compression=zlib", "payload random=1 size=100"}, &errors),
        1);
    QVERIFY2(errors.contains("store it instead"), errors.constData());
    QCOMPARE(runTool({"-o", "x.bin", "-m", "absent.manifest"}, &errors), 1);
    QVERIFY(errors.contains("absent.manifest"));
    QCOMPARE(runTool({"package"}), 2);
    QCOMPARE(runTool({"-o", "x.bin", "--bogus"}), 2);
}

QTEST_GUILESS_MAIN(TestFirmwarePackageWriter)
#include "tst_firmwarepackagewriter.moc"
