#pragma once

#include <QSet>
#include <QString>

#include <cstdint>
#include <map>
#include <set>

// One recorder model the web-view plug-in supports: its names and pictures, and the firmware
// package shipped for it.
struct ProductRecord
{
    ProductRecord() = default;
    ProductRecord(QString name, QString image, uint16_t hardwareRevision, QString releaseVersion,
                  QString firmwareBuild, QString firmwareFile, int64_t installSeconds);

    QString name;
    QString family;
    QString image;
    QString thumbnail;
    uint16_t hardwareRevision = 0;
    QString releaseVersion;
    // Eight lower-case hexadecimal digits; devices report their build the same way.
    QString firmwareBuild;
    QString firmwareFile;
    int64_t arrivalTimeoutSeconds = 10;
    int64_t installSeconds = 0;
    // Advertised names that identify the model when a record carries no product id.
    std::set<QString> aliasNames;
};

using ProductTable = std::map<uint16_t, ProductRecord>;

// Every model of the plug-in by USB product id (vendor 0x2C4A); built once, never changed.
const ProductTable& supportedProducts();

// Releases configured and updated over the block protocol: 7.0 up to 8.3, and 8.3.2.
bool isLegacyReleaseVersion(const QString& releaseVersion);
