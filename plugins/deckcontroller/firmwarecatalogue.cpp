#include "plugins/deckcontroller/firmwarecatalogue.h"

#include "plugins/shared/firmwarefilelocator.h"
#include "usb/firmware/firmwarepackage.h"

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

constexpr uint16_t kDeckController = 0xBE32;

std::mutex g_cacheMutex;
std::map<uint16_t, std::unique_ptr<FirmwareCatalogue>>& cache()
{
    static std::map<uint16_t, std::unique_ptr<FirmwareCatalogue>> catalogues;
    return catalogues;
}

std::string hex8(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", unsigned(value));
    return text;
}

} // namespace

uint32_t FirmwareCatalogue::expectedXmegaChecksum(uint16_t productId)
{
    if (productId != kDeckController)
        throw std::runtime_error("GetXmegaChecksum: Unsupported product\n");
    return 0x7F6403E6;
}

uint32_t FirmwareCatalogue::expectedCpuChecksum(uint16_t productId)
{
    if (productId != kDeckController)
        throw std::runtime_error("GetCpuChecksum: Unsupported product\n");
    return 0xC0FB1F17;
}

uint32_t FirmwareCatalogue::expectedFpgaVersion(uint16_t productId)
{
    if (productId != kDeckController)
        throw std::runtime_error("GetFPGAVersion: Unsupported product\n");
    return 0;
}

std::vector<std::string> FirmwareCatalogue::resourceDescriptions(uint16_t productId)
{
    if (productId != kDeckController)
        throw std::runtime_error("GetResourceDescriptions: Unsupported product\n");
    return {"data-be32.bin"};
}

std::string FirmwareCatalogue::firmwareText(uint32_t xmega, uint32_t cpu, uint32_t fpga)
{
    return "XMEGA:0x" + hex8(xmega) + "\nCPU:0x" + hex8(cpu) + "\nFPGA:0x" + hex8(fpga);
}

FirmwareCatalogue* FirmwareCatalogue::getCatalogue(uint16_t productId)
{
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto& catalogues = cache();
    auto it = catalogues.find(productId);
    if (it != catalogues.end())
        return it->second.get();
    auto catalogue = std::make_unique<FirmwareCatalogue>(productId);
    FirmwareCatalogue* made = catalogue.get();
    catalogues.emplace(productId, std::move(catalogue));
    return made;
}

void FirmwareCatalogue::dropCatalogues()
{
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    cache().clear();
}

void FirmwareCatalogue::GetFirmwares(FirmwarePackageEntryList& list, const std::string& path,
                                     uint16_t productId, Mode mode)
{
    if (path.empty())
        throw std::runtime_error("Resource file unspecified\n");
    FirmwarePackage package;
    package.setPath(path);
    FirmwarePackageEntryList read;
    const int32_t result =
        package.read(kResourceType, kVendorResourceId | productId, read, mode == HeadersOnly);
    if (result == FirmwarePackage::Unreadable || result == FirmwarePackage::NoPath)
        throw std::runtime_error("Open resource file failed\n");
    if (result != FirmwarePackage::Success)
        throw std::runtime_error("Failed to query resources\n");
    if (read.empty())
        throw std::runtime_error("GetFirmwares: No resources found\n");
    for (auto& entry : read)
        list.push_back(std::move(entry));
}

FirmwareCatalogue::FirmwareCatalogue(uint16_t productId)
    : m_productId(productId)
{
    for (const std::string& path : packagePaths())
        GetFirmwares(m_entries, path, m_productId, HeadersOnly);
    m_availableFirmware =
        firmwareText(expectedXmegaChecksum(productId), expectedCpuChecksum(productId),
                     expectedFpgaVersion(productId));
}

std::vector<std::string> FirmwareCatalogue::packagePaths() const
{
    std::vector<std::string> paths;
    for (const std::string& file : resourceDescriptions(m_productId))
        paths.push_back(FirmwareFileLocator(file).firmwareFilePath());
    return paths;
}

size_t FirmwareCatalogue::entryCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

FirmwarePackageEntry* FirmwareCatalogue::getEntry(uint32_t index, bool load)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (load && !m_loaded) {
        m_entries.clear();
        for (const std::string& path : packagePaths())
            GetFirmwares(m_entries, path, m_productId, WithPayloads);
        m_loaded = true;
    }
    return index < m_entries.size() ? m_entries[index].get() : nullptr;
}
