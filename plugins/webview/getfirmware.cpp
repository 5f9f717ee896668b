#include "getfirmware.h"

#include "plugins/shared/firmwarefilelocator.h"
#include "usb/firmware/firmwarepackage.h"

#include <stdexcept>
#include <string>

namespace {
constexpr uint32_t kFirmwareResourceType = 1;
constexpr uint32_t kVendorResourceId = 0x2C4Au << 16;
} // namespace

QByteArray getFirmware(const QString& fileName, uint16_t productId)
{
    FirmwareFileLocator locator(fileName.toStdString());
    FirmwarePackage package;
    package.setPath(locator.firmwareFilePath());
    FirmwarePackageEntryList entries;
    const int32_t result =
        package.readEntries(kFirmwareResourceType, kVendorResourceId | productId, entries);
    if (result != FirmwarePackage::Success)
        throw std::runtime_error("GetFirmware: Unable to unpack resource. Error code: " +
                                 std::to_string(result));
    if (entries.empty())
        throw std::runtime_error("GetFirmware: No resources found.");
    FirmwarePackageEntry* entry = entries.front().get();
    const uint8_t* data = entry->data();
    // An image that does not inflate, or has no bytes, must never reach a device as an update.
    if (!data || entry->size() == 0)
        throw std::runtime_error("GetFirmware: Empty firmware payload.");
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(entry->size()));
}
