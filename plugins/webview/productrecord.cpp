#include "productrecord.h"

#include <QVersionNumber>

namespace {

// Builds of the packages shipped with this release, one per hardware generation.
const char kAlderBuild[] = "8a4c1f02";
const char kBirchCedarBuild[] = "8a4c1f17";
const char kDogwoodBuild[] = "8a4c20b3";
const char kElmBuild[] = "8a4c2121";
const char kReleaseVersion[] = "8.4";

ProductTable buildTable()
{
    const QString release = QString::fromLatin1(kReleaseVersion);
    ProductTable table;
    table[0xBE1D] = ProductRecord("Kestrel Alder One", ":/Alder", 0x100, release, kAlderBuild,
                                  "data-be1d.bin", 120);
    table[0xBEAC] = ProductRecord("Kestrel Alder Two", ":/Alder", 0x100, release, kAlderBuild,
                                  "data-beac.bin", 120);
    table[0xBE76] = ProductRecord("Kestrel Birch", ":/Birch", 0x300, release, kBirchCedarBuild,
                                  "data-be76.bin", 120);
    table[0xBE7A] = ProductRecord("Kestrel Cedar", ":/Cedar", 0x200, release, kBirchCedarBuild,
                                  "data-be7a.bin", 120);
    table[0xBE7B] = ProductRecord("Kestrel Cedar Deluxe", ":/CedarSSD", 0x200, release,
                                  kBirchCedarBuild, "data-be7b.bin", 120);
    table[0xBE8C] = ProductRecord("Kestrel Dogwood", ":/Dogwood", 0x200, release, kDogwoodBuild,
                                  "data-be8c.bin", 360);
    table[0xBE8D] =
        ProductRecord("Kestrel Elm", ":/Elm", 0x100, release, kElmBuild, "data-be8d.bin", 120);
    return table;
}

} // namespace

ProductRecord::ProductRecord(QString name, QString image, uint16_t hardwareRevision,
                             QString releaseVersion, QString firmwareBuild, QString firmwareFile,
                             int64_t installSeconds)
    : name(std::move(name))
    , family(QStringLiteral("Kestrel"))
    , image(std::move(image))
    , thumbnail(this->image + QStringLiteral("Thumb"))
    , hardwareRevision(hardwareRevision)
    , releaseVersion(std::move(releaseVersion))
    , firmwareBuild(firmwareBuild.toLower())
    , firmwareFile(std::move(firmwareFile))
    , installSeconds(installSeconds)
{
}

const ProductTable& supportedProducts()
{
    // A function-local static is initialised once, thread-safely.
    static const ProductTable table = buildTable();
    return table;
}

bool isLegacyReleaseVersion(const QString& releaseVersion)
{
    // Leading numeric segments only; text that starts with no number is the empty version.
    const QVersionNumber version = QVersionNumber::fromString(releaseVersion);
    if (version >= QVersionNumber(7, 0) && version <= QVersionNumber(8, 3))
        return true;
    return version == QVersionNumber(8, 3, 2);
}
