#include "usb/firmware/firmwarepackage.h"
#include "usb/firmware/sha256withprefix.h"

#include "firmwarepackagewriter.h"

#include <QtTest>

#include <cstring>

using Bytes = FirmwarePackageWriter::Bytes;
using Writer = FirmwarePackageWriter;

Q_DECLARE_METATYPE(Bytes)

namespace {

constexpr std::uint16_t kProduct = 0xC34C;
constexpr std::uint32_t kResource = 0x2C4A0000 | kProduct;

Bytes pattern(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = std::uint8_t(state >> 16);
    }
    return bytes;
}

// Compresses well, so zlib entries are much smaller than their image.
Bytes text(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t("firmware image "[i % 15] + (i / 4096) % 3);
    return bytes;
}

// One package of the given compression with a matching descriptor.
Writer single(std::uint8_t compression, const Bytes& payload)
{
    Writer writer;
    Writer::Package& package = writer.addPackage();
    package.compression = compression;
    package.payload = payload;
    package.descriptors.push_back(Writer::Descriptor::firmware(kProduct));
    return writer;
}

Bytes build(const Writer& writer)
{
    return writer.build();
}

QByteArray toByteArray(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

Bytes payloadOf(FirmwarePackageEntry* entry)
{
    const std::uint8_t* data = entry->data();
    return data ? Bytes(data, data + entry->size()) : Bytes();
}

} // namespace

class TestFirmwarePackage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void readsStoredAndZlibEntriesByteForByte();
    void copiesEveryMatchingDescriptor();
    void noMatchingDescriptorGivesEmptyList();
    void entryKindFromFlags_data();
    void entryKindFromFlags();
    void descriptorExtras_data();
    void descriptorExtras();

    void refusesMalformedFile_data();
    void refusesMalformedFile();
    void refusesMissingPathOrUnreadableFile();
    void badZlibPayloadGivesNoData_data();
    void badZlibPayloadGivesNoData();
    void storedEntryNeverReadsPastStoredBytes();
    void entriesOutliveReader_data();
    void entriesOutliveReader();

    void headersOnlyCarriesNoPayload();
    void keepsImageUntilPathChanges();
    void digestMismatchRereadsFile();
    void digestCoversEveryByteOfALargeFile_data();
    void digestCoversEveryByteOfALargeFile();
    void entryAtRange();
    void sha256WithPrefixJoinsKeyAndData();
    void sha256WithPrefixInPieces();

private:
    QString save(const Bytes& bytes, const QString& name = QStringLiteral("data.bin"));
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFirmwarePackage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestFirmwarePackage::save(const Bytes& bytes, const QString& name)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(toByteArray(bytes));
    return path;
}

void TestFirmwarePackage::readsStoredAndZlibEntriesByteForByte()
{
    const Bytes stored = pattern(5000, 1);
    const Bytes compressed = text(200000);
    Writer writer;
    {
        Writer::Package& package = writer.addPackage();
        package.payload = stored;
        package.flags = 0x01;
        package.wordA = 0x11223344;
        package.wordB = 0x55667788;
        package.descriptors.push_back(Writer::Descriptor::firmware(0xBE32));
        package.descriptors.push_back(Writer::Descriptor::firmware(kProduct, 7, 0x08004000));
        package.descriptors.back().region = 3;
    }
    {
        Writer::Package& package = writer.addPackage();
        package.payload = compressed;
        package.compression = 1;
        package.flags = 0x04;
        package.descriptors.push_back(Writer::Descriptor::firmware(kProduct, 255, 0x100));
    }
    writer.addPackage().payload = pattern(100, 2);
    writer.packages().back().descriptors.push_back(Writer::Descriptor::firmware(kProduct + 1));

    FirmwarePackage reader;
    QCOMPARE(reader.setPath(save(build(writer)).toStdString()), 0);
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(2));

    FirmwarePackageEntry* first = FirmwarePackage::entryAt(list, 0);
    QCOMPARE(first->compressed(), 0u);
    QCOMPARE(first->kind(), 1u);
    QCOMPARE(first->packageWordA(), 0x11223344u);
    QCOMPARE(first->packageWordB(), 0x55667788u);
    QCOMPARE(first->resourceType(), 1u);
    QCOMPARE(first->resourceId(), kResource);
    QCOMPARE(first->target(), std::uint8_t(7));
    QCOMPARE(first->region(), std::uint8_t(3));
    QCOMPARE(first->loadAddress(), 0x08004000u);
    QCOMPARE(first->storedSize(), 5000u);
    QCOMPARE(first->size(), 5000u);
    QVERIFY(payloadOf(first) == stored);

    FirmwarePackageEntry* second = FirmwarePackage::entryAt(list, 1);
    QCOMPARE(second->compressed(), 1u);
    QCOMPARE(second->kind(), 3u);
    QCOMPARE(second->target(), std::uint8_t(255));
    QCOMPARE(second->uncompressedSize(), 200000u);
    QVERIFY(second->storedSize() < 20000u);
    QVERIFY(!second->inflated());
    QCOMPARE(second->size(), 200000u);
    QVERIFY(second->inflated());
    QVERIFY(payloadOf(second) == compressed);
    // Inflated once: later calls hand out the same buffer.
    QCOMPARE(second->data(), second->data());
}

void TestFirmwarePackage::copiesEveryMatchingDescriptor()
{
    Writer writer = single(1, text(3000));
    writer.packages().back().descriptors.push_back(Writer::Descriptor::firmware(kProduct, 1));

    FirmwarePackage reader;
    reader.setPath(save(build(writer)).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(2));
    QCOMPARE(list[1]->target(), std::uint8_t(1));
    QVERIFY(list[0]->data() != list[1]->data());
    QVERIFY(payloadOf(list[0].get()) == text(3000));
    QVERIFY(payloadOf(list[1].get()) == text(3000));
}

void TestFirmwarePackage::noMatchingDescriptorGivesEmptyList()
{
    FirmwarePackage reader;
    reader.setPath(save(build(single(0, pattern(64, 3)))).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(1));
    QCOMPARE(reader.readEntries(1, kResource + 1, list), 0);
    QVERIFY(list.empty());
    QCOMPARE(reader.readEntries(2, kResource, list), 0);
    QVERIFY(list.empty());
}

void TestFirmwarePackage::entryKindFromFlags_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("kind");
    QTest::newRow("none") << 0x00 << 0;
    QTest::newRow("bit 0") << 0x01 << 1;
    QTest::newRow("bit 1") << 0x02 << 2;
    QTest::newRow("bits 0 and 1") << 0x03 << 1;
    QTest::newRow("bit 2") << 0x04 << 3;
    QTest::newRow("bits 2 and 3") << 0x0C << 3;
    QTest::newRow("bit 3") << 0x08 << 4;
    QTest::newRow("high bits only") << 0xF0 << 0;
}

void TestFirmwarePackage::entryKindFromFlags()
{
    QFETCH(int, flags);
    QFETCH(int, kind);
    Writer writer = single(0, pattern(32, 4));
    writer.packages().back().flags = std::uint8_t(flags);
    FirmwarePackage reader;
    reader.setPath(save(build(writer)).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readHeaders(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(1));
    QCOMPARE(list[0]->kind(), std::uint32_t(kind));
}

void TestFirmwarePackage::descriptorExtras_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("length");
    QTest::addColumn<uint>("wordC");
    QTest::addColumn<uint>("halfD");
    QTest::newRow("16 bytes") << 2 << 16 << 0xFFFFFFFFu << 0xFFFFu;
    QTest::newRow("20 bytes, type 1") << 1 << 20 << 0xA1B2C3D4u << 0xFFFFu;
    QTest::newRow("24 bytes, type 1") << 1 << 24 << 0xA1B2C3D4u << 0xFFFFu;
    QTest::newRow("24 bytes, type 2") << 2 << 24 << 0xA1B2C3D4u << 0x0E0Fu;
}

void TestFirmwarePackage::descriptorExtras()
{
    QFETCH(int, type);
    QFETCH(int, length);
    QFETCH(uint, wordC);
    QFETCH(uint, halfD);
    Writer writer = single(0, pattern(32, 5));
    Writer::Descriptor& descriptor = writer.packages().back().descriptors.back();
    descriptor.type = std::uint16_t(type);
    descriptor.wordC = 0xA1B2C3D4;
    descriptor.halfD = 0x0E0F;
    descriptor.length = std::uint16_t(length);
    // A short descriptor leaves the header below its 48-byte minimum: pad with a second one.
    writer.packages().back().descriptors.push_back(Writer::Descriptor::firmware(0x1234));

    FirmwarePackage reader;
    reader.setPath(save(build(writer)).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(1));
    QCOMPARE(list[0]->descriptorWordC(), wordC);
    QCOMPARE(list[0]->descriptorHalfD(), halfD);
}

void TestFirmwarePackage::refusesMalformedFile_data()
{
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<int>("fullResult");
    QTest::addColumn<int>("headersResult");

    const Bytes valid = build(single(0, pattern(300, 6)));
    auto signedBytes = [](Bytes file) {
        Writer::sign(file, Writer::projectKey());
        return file;
    };
    auto flipped = [&](std::size_t at) {
        Bytes file = valid;
        file[at] ^= 0x01;
        return file;
    };
    // A valid package with one change made through the writer, digest correct.
    auto variant = [](auto change) {
        Writer writer = single(0, pattern(300, 6));
        change(writer.packages().back(), writer);
        return writer.build();
    };

    QTest::newRow("empty") << Bytes() << 4 << 0;
    QTest::newRow("digest only") << Bytes(32, 0) << 4 << 0;
    QTest::newRow("72 bytes") << signedBytes(Bytes(72, 0)) << 4 << 7;
    QTest::newRow("73 bytes, no package") << signedBytes(Bytes(73, 0)) << 7 << 7;

    QTest::newRow("digest byte flipped") << flipped(0) << 5 << 0;
    QTest::newRow("last digest byte flipped") << flipped(31) << 5 << 0;
    QTest::newRow("payload byte flipped") << flipped(valid.size() - 1) << 5 << 0;
    QTest::newRow("header byte flipped") << flipped(32 + 4) << 5 << 0;
    {
        Writer writer = single(0, pattern(300, 6));
        Bytes key = Writer::projectKey();
        key[19] ^= 0x80;
        writer.setKey(key);
        QTest::newRow("other key") << writer.build() << 5 << 0;
    }

    QTest::newRow("bad magic") << variant([](auto& p, auto&) { p.magic = 0xC3C2; }) << 7 << 7;
    QTest::newRow("header size 47") << variant([](auto& p, auto&) { p.headerSize = 47; }) << 7 << 7;
    QTest::newRow("compression 2")
        << variant([](auto& p, auto&) { p.compressionByte = 2; }) << 7 << 7;
    QTest::newRow("compression 255")
        << variant([](auto& p, auto&) { p.compressionByte = 255; }) << 7 << 7;
    QTest::newRow("package length = header size")
        << variant([](auto& p, auto&) { p.packageLength = 48; }) << 7 << 7;
    QTest::newRow("uncompressed below stored")
        << variant([](auto& p, auto&) { p.uncompressedSize = 299; }) << 7 << 7;
    QTest::newRow("package length past end")
        << variant([](auto& p, auto&) { p.packageLength = 48 + 301; }) << 7 << 7;
    QTest::newRow("package length near 2^32") << variant([](auto& p, auto&) {
        p.packageLength = 0xFFFFFFF0;
        p.uncompressedSize = 0xFFFFFFFF;
    }) << 7 << 7;
    QTest::newRow("trailing bytes")
        << variant([](auto&, auto& w) { w.trailing() = Bytes(23, 0); }) << 7 << 7;
    QTest::newRow("trailing package header")
        << variant([](auto&, auto& w) { w.trailing() = Bytes(24, 0); }) << 7 << 7;
    QTest::newRow("second package past end") << variant([](auto&, auto& w) {
        // A second header whose package length (256) runs past the end.
        w.trailing() = {0xC3, 0xC3, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0,
                        0,    48,   0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    }) << 7 << 7;

    QTest::newRow("descriptor length 15")
        << variant([](auto& p, auto&) { p.descriptors.back().lengthField = 15; }) << 6 << 6;
    QTest::newRow("descriptor length 25")
        << variant([](auto& p, auto&) { p.descriptors.back().lengthField = 25; }) << 6 << 6;
    QTest::newRow("descriptor length 0")
        << variant([](auto& p, auto&) { p.descriptors.back().lengthField = 0; }) << 6 << 6;
    QTest::newRow("resource type 3")
        << variant([](auto& p, auto&) { p.descriptors.back().resourceType = 3; }) << 6 << 6;
    QTest::newRow("last descriptor near the end of the file") << variant([](auto& p, auto&) {
        // 24 + 16 bytes of descriptors, then only 4 bytes of payload.
        p.descriptors.push_back(Writer::Descriptor::firmware(kProduct));
        p.descriptors.back().length = 16;
        p.payload = Bytes(4, 0xAA);
    }) << 6 << 6;
    QTest::newRow("descriptors run into the payload")
        << variant([](auto& p, auto&) { p.headerSize = 48 + 24; }) << 6 << 6;
}

void TestFirmwarePackage::refusesMalformedFile()
{
    QFETCH(Bytes, file);
    QFETCH(int, fullResult);
    QFETCH(int, headersResult);
    const std::string path = save(file).toStdString();

    // A list that holds entries of an earlier read must come back empty from a failed one.
    FirmwarePackageEntryList list;
    FirmwarePackage valid;
    valid.setPath(save(build(single(1, text(500))), "valid.bin").toStdString());
    QCOMPARE(valid.readEntries(1, kResource, list), 0);
    QVERIFY(!list.empty());

    FirmwarePackage reader;
    reader.setPath(path);
    QCOMPARE(reader.readEntries(1, kResource, list), fullResult);
    if (fullResult != 0)
        QVERIFY(list.empty());

    QCOMPARE(valid.readEntries(1, kResource, list), 0);
    FirmwarePackage headers;
    headers.setPath(path);
    QCOMPARE(headers.readHeaders(1, kResource, list), headersResult);
    if (headersResult != 0)
        QVERIFY(list.empty());
}

void TestFirmwarePackage::refusesMissingPathOrUnreadableFile()
{
    FirmwarePackageEntryList list;
    FirmwarePackage valid;
    valid.setPath(save(build(single(0, pattern(64, 7)))).toStdString());

    FirmwarePackage reader;
    QCOMPARE(valid.readEntries(1, kResource, list), 0);
    QCOMPARE(reader.readEntries(1, kResource, list), 1);
    QVERIFY(list.empty());
    QCOMPARE(reader.readHeaders(1, kResource, list), 1);

    for (const QString& path : {m_dir->filePath("missing.bin"), m_dir->path()}) {
        QCOMPARE(valid.readEntries(1, kResource, list), 0);
        reader.setPath(path.toStdString());
        QCOMPARE(reader.readEntries(1, kResource, list), 3);
        QVERIFY(list.empty());
        QCOMPARE(reader.readHeaders(1, kResource, list), 3);
    }
    reader.setPath(std::string());
    QCOMPARE(reader.readEntries(1, kResource, list), 1);

    // A size that does not fit the 32-bit file size is refused, not truncated (sparse file).
    QFile huge(m_dir->filePath("huge.bin"));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    huge.write(toByteArray(build(single(0, pattern(64, 7)))));
    QVERIFY(huge.resize((qint64(1) << 32) + 0x60));
    huge.close();
    reader.setPath(huge.fileName().toStdString());
    QCOMPARE(reader.readHeaders(1, kResource, list), 3);
    QCOMPARE(reader.readEntries(1, kResource, list), 3);
}

void TestFirmwarePackage::badZlibPayloadGivesNoData_data()
{
    QTest::addColumn<Bytes>("file");
    const Bytes image = text(4096);
    Bytes stream;
    QVERIFY(Writer::compress(image, 9, &stream));

    auto withPackage = [&](auto change) {
        Writer writer = single(1, image);
        change(writer.packages().back());
        return writer.build();
    };
    QTest::newRow("not a zlib stream") << withPackage([](auto& p) { p.stored = Bytes(100, 0x5A); });
    QTest::newRow("truncated stream")
        << withPackage([&](auto& p) { p.stored = Bytes(stream.begin(), stream.end() - 5); });
    QTest::newRow("bad checksum") << withPackage([&](auto& p) {
        p.stored = stream;
        p.stored->back() ^= 0x01;
    });
    QTest::newRow("inflates to one byte more")
        << withPackage([](auto& p) { p.uncompressedSize = 4095; });
    QTest::newRow("inflates to one byte less")
        << withPackage([](auto& p) { p.uncompressedSize = 4097; });
    QTest::newRow("uncompressed size 2^32 - 1")
        << withPackage([](auto& p) { p.uncompressedSize = 0xFFFFFFFF; });
    QTest::newRow("uncompressed size 2^31")
        << withPackage([](auto& p) { p.uncompressedSize = 0x80000000; });

    // Images of megabytes inflate into buffers of whole huge pages: the exact size still holds.
    const Bytes large = text(3u << 20);
    auto withLarge = [&](std::uint32_t uncompressedSize) {
        Writer writer = single(1, large);
        writer.packages().back().uncompressedSize = uncompressedSize;
        return writer.build();
    };
    QTest::newRow("3 MiB image inflates to one byte more") << withLarge((3u << 20) - 1);
    QTest::newRow("3 MiB image inflates to one byte less") << withLarge((3u << 20) + 1);
    QTest::newRow("3 MiB image claims 4 MiB") << withLarge(4u << 20);
}

void TestFirmwarePackage::badZlibPayloadGivesNoData()
{
    QFETCH(Bytes, file);
    FirmwarePackage reader;
    reader.setPath(save(file).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(1));
    FirmwarePackageEntry* entry = list[0].get();
    const std::uint32_t stored = entry->storedSize();
    for (int attempt = 0; attempt < 2; ++attempt) {
        QCOMPARE(entry->data(), nullptr);
        QCOMPARE(entry->size(), 0u);
        QVERIFY(!entry->inflated());
        QCOMPARE(entry->storedSize(), stored);
    }
}

void TestFirmwarePackage::storedEntryNeverReadsPastStoredBytes()
{
    const Bytes image = pattern(100, 8);
    Writer writer = single(0, image);
    writer.packages().back().uncompressedSize = 0xFFFFFFFF;
    FirmwarePackage reader;
    reader.setPath(save(build(writer)).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(list[0]->uncompressedSize(), 0xFFFFFFFFu);
    QCOMPARE(list[0]->size(), 100u);
    QVERIFY(payloadOf(list[0].get()) == image);
}

void TestFirmwarePackage::entriesOutliveReader_data()
{
    QTest::addColumn<std::size_t>("size");
    QTest::newRow("kilobytes") << std::size_t(5000);
    QTest::newRow("megabytes") << std::size_t(3u << 20);
}

// Entries hold on to the verified image they were read from, whatever becomes of the reader.
void TestFirmwarePackage::entriesOutliveReader()
{
    QFETCH(std::size_t, size);
    Writer writer = single(0, pattern(size, 12));
    Writer::Package& zlib = writer.addPackage();
    zlib.compression = 1;
    zlib.payload = text(size);
    zlib.descriptors.push_back(Writer::Descriptor::firmware(kProduct));
    const QString path = save(build(writer));

    FirmwarePackageEntryList list;
    FirmwarePackageEntryList again;
    {
        FirmwarePackage reader;
        reader.setPath(path.toStdString());
        QCOMPARE(reader.readEntries(1, kResource, list), 0);
        QCOMPARE(reader.readEntries(1, kResource, again), 0);
        reader.setPath(std::string());
    }
    QVERIFY(QFile::remove(path));
    QCOMPARE(list.size(), std::size_t(2));
    QVERIFY(payloadOf(list[1].get()) == text(size));
    again.clear();
    QVERIFY(payloadOf(list[0].get()) == pattern(size, 12));
    QVERIFY(list[1]->inflated());
    QVERIFY(payloadOf(list[1].get()) == text(size));
}

void TestFirmwarePackage::headersOnlyCarriesNoPayload()
{
    Writer writer = single(1, text(1000));
    writer.packages().back().descriptors.back().target = 9;
    writer.packages().back().descriptors.back().loadAddress = 0x2000;
    Bytes file = build(writer);
    file[10] ^= 0xFF; // the digest is not checked here

    FirmwarePackage reader;
    reader.setPath(save(file).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readHeaders(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(1));
    QCOMPARE(list[0]->target(), std::uint8_t(9));
    QCOMPARE(list[0]->loadAddress(), 0x2000u);
    QCOMPARE(list[0]->uncompressedSize(), 1000u);
    QCOMPARE(list[0]->data(), nullptr);
    QCOMPARE(list[0]->size(), 0u);
    QCOMPARE(reader.readEntries(1, kResource, list), 5);
}

void TestFirmwarePackage::keepsImageUntilPathChanges()
{
    const QString path = save(build(single(0, pattern(2000, 9))));
    FirmwarePackage reader;
    reader.setPath(path.toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QVERIFY(QFile::remove(path));

    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QVERIFY(payloadOf(list[0].get()) == pattern(2000, 9));
    QCOMPARE(reader.readHeaders(1, kResource, list), 0);
    QCOMPARE(list.size(), std::size_t(1));

    reader.setPath(path.toStdString());
    QCOMPARE(reader.readEntries(1, kResource, list), 3);
}

void TestFirmwarePackage::digestMismatchRereadsFile()
{
    Bytes file = build(single(0, pattern(500, 10)));
    Bytes broken = file;
    broken[200] ^= 0x10;
    const QString path = save(broken);
    FirmwarePackage reader;
    reader.setPath(path.toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 5);
    save(file);
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QVERIFY(payloadOf(list[0].get()) == pattern(500, 10));
}

void TestFirmwarePackage::digestCoversEveryByteOfALargeFile_data()
{
    // The file is read and hashed in pieces of 256 KiB; a changed byte anywhere is caught.
    QTest::addColumn<std::size_t>("flipped");
    QTest::newRow("first hashed byte") << std::size_t(32);
    QTest::newRow("last byte of the first piece") << std::size_t((256u << 10) - 1);
    QTest::newRow("first byte of the second piece") << std::size_t(256u << 10);
    QTest::newRow("middle") << std::size_t(600000);
    QTest::newRow("last byte") << std::size_t(0);
}

void TestFirmwarePackage::digestCoversEveryByteOfALargeFile()
{
    QFETCH(std::size_t, flipped);
    const Bytes image = pattern(3u << 20, 13);
    const Bytes file = build(single(0, image));
    Bytes broken = file;
    broken[flipped ? flipped : broken.size() - 1] ^= 0x01;

    FirmwarePackage reader;
    reader.setPath(save(broken).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 5);
    QVERIFY(list.empty());
    save(file);
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QVERIFY(payloadOf(list[0].get()) == image);
}

void TestFirmwarePackage::entryAtRange()
{
    Writer writer = single(0, pattern(40, 11));
    writer.packages().back().descriptors.push_back(Writer::Descriptor::firmware(kProduct, 1));
    FirmwarePackage reader;
    reader.setPath(save(build(writer)).toStdString());
    FirmwarePackageEntryList list;
    QCOMPARE(reader.readEntries(1, kResource, list), 0);
    QCOMPARE(FirmwarePackage::entryAt(list, -1), nullptr);
    QCOMPARE(FirmwarePackage::entryAt(list, 2), nullptr);
    QCOMPARE(FirmwarePackage::entryAt(list, 1)->target(), std::uint8_t(1));
    FirmwarePackage::clearEntries(list);
    QVERIFY(list.empty());
    QCOMPARE(FirmwarePackage::entryAt(list, 0), nullptr);
}

void TestFirmwarePackage::sha256WithPrefixJoinsKeyAndData()
{
    const std::uint8_t key[] = {'a', 'b'};
    const std::uint8_t data[] = {'c'};
    std::uint8_t digest[32];
    QVERIFY(sha256WithPrefix(key, sizeof key, data, sizeof data, digest));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest), 32).toHex(),
             QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

void TestFirmwarePackage::sha256WithPrefixInPieces()
{
    const Bytes key = pattern(20, 14);
    const Bytes data = pattern(1000, 15);
    std::uint8_t whole[32];
    QVERIFY(sha256WithPrefix(key.data(), key.size(), data.data(), data.size(), whole));

    // Uneven pieces give the digest of the whole.
    const std::size_t cuts[] = {0, 1, 64, 999, 1000};
    std::size_t at = 0;
    std::uint8_t pieces[32];
    QVERIFY(sha256WithPrefix(
        key.data(), key.size(),
        [&](const std::uint8_t** piece) -> std::int64_t {
            if (at + 1 == sizeof cuts / sizeof cuts[0])
                return 0;
            *piece = data.data() + cuts[at];
            ++at;
            return std::int64_t(cuts[at] - cuts[at - 1]);
        },
        pieces));
    QCOMPARE(std::memcmp(whole, pieces, 32), 0);

    // A piece that cannot be had fails the digest and leaves nothing behind.
    std::uint8_t failed[32];
    std::memset(failed, 0xAA, sizeof failed);
    QVERIFY(!sha256WithPrefix(
        key.data(), key.size(), [](const std::uint8_t**) -> std::int64_t { return -1; }, failed));
    QVERIFY(std::all_of(std::begin(failed), std::end(failed), [](auto b) { return b == 0; }));
}

QTEST_GUILESS_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
