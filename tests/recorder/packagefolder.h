#pragma once

#include "plugins/shared/firmwarefilelocator.h"
#include "sim/packages/firmwarepackagewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <vector>

// The plug-in's resources folder for a test process. The updater works out a package's path
// once per process, so every test of the process writes its packages here.
class PackageFolder
{
public:
    // One image of a package: its payload and where it goes.
    struct Image
    {
        std::vector<std::uint8_t> payload;
        std::uint8_t region = 0;      // the memory the image goes to (descriptor byte 8)
        std::uint8_t programType = 0; // descriptor byte 9
        std::uint32_t address = 0;
    };

    PackageFolder() { FirmwareFileLocator::setResourcesDirectory(path()); }

    std::string path() const { return m_dir.path().toStdString(); }
    std::string filePath(const std::string& fileName) const { return path() + "/" + fileName; }

    // A package of one stored image per package header, each for productId.
    static FirmwarePackageWriter writer(std::uint16_t productId, const std::vector<Image>& images)
    {
        FirmwarePackageWriter writer;
        for (const Image& image : images) {
            FirmwarePackageWriter::Package& package = writer.addPackage();
            package.payload = image.payload;
            auto descriptor = FirmwarePackageWriter::Descriptor::firmware(
                productId, image.programType, image.address);
            descriptor.region = image.region;
            package.descriptors.push_back(descriptor);
        }
        return writer;
    }

    bool write(const std::string& fileName, const FirmwarePackageWriter& writer) const
    {
        return writer.write(filePath(fileName));
    }
    bool write(const std::string& fileName, std::uint16_t productId,
               const std::vector<Image>& images) const
    {
        return write(fileName, writer(productId, images));
    }
    bool copyFrom(const QString& folder, const QString& fileName) const
    {
        const QString target = QString::fromStdString(filePath(fileName.toStdString()));
        QFile::remove(target);
        return QFile::copy(QDir(folder).filePath(fileName), target);
    }
    void remove(const std::string& fileName) const
    {
        QFile::remove(QString::fromStdString(filePath(fileName)));
    }

    static std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed)
    {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = std::uint8_t(i * 131 + (i >> 12) + seed);
        return bytes;
    }

private:
    QTemporaryDir m_dir;
};
