#pragma once

#include "usb/fx2/usbproductentry.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace CVN {
namespace DiskRecorder {

// One row of the FX2 recorders' product table. The row shares its RAM image, so a device
// object made from it can keep the image (and the row's pointers) alive after the table is
// gone.
struct Fx2RamImageRow : CVN::USB::USBProductEntry
{
    std::shared_ptr<const std::vector<std::uint8_t>> image;
};

// The FX2 recorders and the RAM program each one's controller is loaded with, in the order the
// notifier watches them: 0xC34C, 0xC34D, 0xC35A, 0xC3A3, 0xC367 (which runs the 0xC3A3
// program). The programs are firmware shipped in the plug-in's Resources folder.
class Fx2RamImageTable
{
public:
    using Images = std::map<std::uint16_t, std::vector<std::uint8_t>>;

    static constexpr std::uint16_t kProductIds[] = {0xC34C, 0xC34D, 0xC35A, 0xC3A3, 0xC367};

    // Images by the product id they are shipped for; 0xC367 takes the 0xC3A3 image. A product
    // without an image keeps its row with an empty image: such a unit is never loaded.
    explicit Fx2RamImageTable(const Images& images);
    // Reads "fx2-c34c.bin", "fx2-c34d.bin", "fx2-c35a.bin" and "fx2-c3a3.bin" from the folder.
    static Fx2RamImageTable fromDirectory(const QString& resourcesDirectory);

    // The row of a product id, or null.
    const Fx2RamImageRow* row(std::uint16_t productId) const;
    std::vector<std::uint32_t> productIds() const;

    // The product whose image a product runs.
    static std::uint16_t imageProductId(std::uint16_t productId);
    static QString imageFileName(std::uint16_t productId);

private:
    std::vector<Fx2RamImageRow> m_rows;
};

} // namespace DiskRecorder
} // namespace CVN
