#pragma once

#include "plugins/shared/firmwarefilelocator.h"
#include "sim/packages/firmwarepackagewriter.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

// The plug-in's resources folder for a test, holding the packages the update tasks read.
class FirmwareFolder
{
public:
    FirmwareFolder() { FirmwareFileLocator::setResourcesDirectory(path()); }
    ~FirmwareFolder() { FirmwareFileLocator::setResourcesDirectory({}); }

    std::string path() const { return m_dir.path().toStdString(); }

    // A package of one stored image for productId.
    bool write(const std::string& fileName, uint16_t productId, const QByteArray& image) const
    {
        FirmwarePackageWriter writer;
        FirmwarePackageWriter::Package& package = writer.addPackage();
        package.payload.assign(image.begin(), image.end());
        package.descriptors.push_back(FirmwarePackageWriter::Descriptor::firmware(productId));
        return writer.write(path() + "/" + fileName);
    }

    static QByteArray pattern(int size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 131 + (i >> 12) + 7);
        return bytes;
    }

private:
    QTemporaryDir m_dir;
};
