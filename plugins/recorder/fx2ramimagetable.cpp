#include "plugins/recorder/fx2ramimagetable.h"

#include "plugins/recorder/diskrecorderinstance.h"

#include <QDir>
#include <QFile>

namespace CVN {
namespace DiskRecorder {

Fx2RamImageTable::Fx2RamImageTable(const Images& images)
{
    std::map<std::uint16_t, std::shared_ptr<const std::vector<std::uint8_t>>> shared;
    for (const auto& image : images)
        shared[image.first] = std::make_shared<const std::vector<std::uint8_t>>(image.second);
    for (std::uint16_t productId : kProductIds) {
        Fx2RamImageRow row;
        row.productId = productId;
        row.factory = &DiskRecorderInstance::create;
        auto it = shared.find(imageProductId(productId));
        if (it != shared.end() && !it->second->empty()) {
            row.image = it->second;
            row.firmware = row.image->data();
            row.firmwareLength = row.image->size();
        }
        m_rows.push_back(std::move(row));
    }
}

Fx2RamImageTable Fx2RamImageTable::fromDirectory(const QString& resourcesDirectory)
{
    Images images;
    const QDir dir(resourcesDirectory);
    for (std::uint16_t productId : kProductIds) {
        if (imageProductId(productId) != productId)
            continue;
        QFile file(dir.filePath(imageFileName(productId)));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        images[productId] = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }
    return Fx2RamImageTable(images);
}

const Fx2RamImageRow* Fx2RamImageTable::row(std::uint16_t productId) const
{
    for (const Fx2RamImageRow& row : m_rows) {
        if (row.productId == productId)
            return &row;
    }
    return nullptr;
}

std::vector<std::uint32_t> Fx2RamImageTable::productIds() const
{
    std::vector<std::uint32_t> ids;
    for (const Fx2RamImageRow& row : m_rows)
        ids.push_back(std::uint32_t(row.productId));
    return ids;
}

std::uint16_t Fx2RamImageTable::imageProductId(std::uint16_t productId)
{
    return productId == 0xC367 ? 0xC3A3 : productId;
}

QString Fx2RamImageTable::imageFileName(std::uint16_t productId)
{
    return QStringLiteral("fx2-%1.bin")
        .arg(imageProductId(productId), 4, 16, QLatin1Char('0'))
        .toLower();
}

} // namespace DiskRecorder
} // namespace CVN
