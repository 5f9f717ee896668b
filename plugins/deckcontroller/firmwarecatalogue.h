#pragma once

#include "usb/firmware/firmwarepackageentry.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The firmware the plug-in carries for one deck-controller product: the identity a current
// unit reports, its text, and the entries of the product's package file in the resources
// folder. Catalogues are made once per product and live until the process ends; failures are
// std::runtime_error with a message ending in a line feed.
class FirmwareCatalogue
{
public:
    static constexpr uint32_t kResourceType = 1;
    static constexpr uint32_t kVendorResourceId = 0x2C4A0000;
    // An entry with this target (or above) is the processor's image, smaller ones are memory
    // targets.
    static constexpr uint8_t kImageTarget = 255;
    // Entries of this kind are carried but not written.
    static constexpr uint32_t kSkippedKind = 2;

    enum Mode { HeadersOnly = 0, WithPayloads = 1 };

    // The identity a unit with current firmware reports; other products throw.
    static uint32_t expectedXmegaChecksum(uint16_t productId);
    static uint32_t expectedCpuChecksum(uint16_t productId);
    static uint32_t expectedFpgaVersion(uint16_t productId);
    // Package file names of the product.
    static std::vector<std::string> resourceDescriptions(uint16_t productId);
    // "XMEGA:0x........\nCPU:0x........\nFPGA:0x........", eight lower-case digits each.
    static std::string firmwareText(uint32_t xmega, uint32_t cpu, uint32_t fpga);

    // The product's catalogue, made on first use; a construction that throws is not kept.
    static FirmwareCatalogue* getCatalogue(uint16_t productId);
    // Tests only: forgets every catalogue. No pointer into one may be held.
    static void dropCatalogues();

    // Reads the product's entries of one package file into list.
    static void GetFirmwares(FirmwarePackageEntryList& list, const std::string& path,
                             uint16_t productId, Mode mode);

    explicit FirmwareCatalogue(uint16_t productId);

    FirmwareCatalogue(const FirmwareCatalogue&) = delete;
    FirmwareCatalogue& operator=(const FirmwareCatalogue&) = delete;

    uint16_t productId() const { return m_productId; }
    const std::string& availableFirmware() const { return m_availableFirmware; }
    size_t entryCount() const;
    // The entry at index, null when out of range. With load the payloads are read first (once);
    // entries handed out before that load must not be kept.
    FirmwarePackageEntry* getEntry(uint32_t index, bool load);

    // The words this plug-in uses for an entry's fields.
    static uint8_t entryTarget(const FirmwarePackageEntry& entry) { return entry.region(); }
    static uint32_t entryAddress(const FirmwarePackageEntry& entry) { return entry.loadAddress(); }

private:
    std::vector<std::string> packagePaths() const;

    const uint16_t m_productId;
    std::string m_availableFirmware;
    mutable std::mutex m_mutex;
    FirmwarePackageEntryList m_entries;
    bool m_loaded = false;
};
