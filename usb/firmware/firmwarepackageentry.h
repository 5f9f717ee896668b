#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One image of a firmware package: the fields of its package header and descriptor, and the
// payload, held in the verified file image and inflated on first access.
class FirmwarePackageEntry
{
public:
    ~FirmwarePackageEntry();
    FirmwarePackageEntry(const FirmwarePackageEntry&) = delete;
    FirmwarePackageEntry& operator=(const FirmwarePackageEntry&) = delete;

    std::uint32_t packageWordA() const { return m_packageWordA; }
    std::uint32_t packageWordB() const { return m_packageWordB; }
    std::uint32_t kind() const { return m_kind; }
    std::uint32_t compressed() const { return m_compressed; }
    std::uint32_t resourceType() const { return m_resourceType; }
    std::uint32_t resourceId() const { return m_resourceId; }
    std::uint32_t descriptorWordC() const { return m_descriptorWordC; }
    std::uint8_t region() const { return m_region; }
    std::uint8_t target() const { return m_target; }
    std::uint16_t descriptorHalfD() const { return m_descriptorHalfD; }
    std::uint32_t loadAddress() const { return m_loadAddress; }
    std::uint32_t storedSize() const { return m_storedSize; }
    std::uint32_t uncompressedSize() const { return m_uncompressedSize; }
    bool inflated() const { return m_inflated; }

    // The payload, inflated on first access; null when there is none or it does not inflate.
    const std::uint8_t* data();
    // Bytes readable at data(); 0 whenever data() is null.
    std::uint32_t size();

private:
    friend class FirmwarePackage;

    // Buffers of many megabytes come straight from the kernel on huge pages: faulting them in
    // page by page costs more than inflating into them.
    struct BufferRelease
    {
        std::size_t mappedLength; // 0: allocated with new[]
        void operator()(std::uint8_t* bytes) const;
    };
    using Buffer = std::unique_ptr<std::uint8_t[], BufferRelease>;
    static Buffer allocate(std::uint64_t size);

    FirmwarePackageEntry() = default;
    bool inflate();

    std::uint32_t m_packageWordA = 0;
    std::uint32_t m_packageWordB = 0;
    std::uint32_t m_kind = 0;
    std::uint32_t m_compressed = 0;
    std::uint32_t m_resourceType = 0;
    std::uint32_t m_resourceId = 0;
    std::uint32_t m_descriptorWordC = 0xFFFFFFFF;
    std::uint8_t m_region = 0;
    std::uint8_t m_target = 0;
    std::uint16_t m_descriptorHalfD = 0xFFFF;
    std::uint32_t m_loadAddress = 0;
    std::shared_ptr<const std::uint8_t> m_stored; // the stored bytes, inside the file image
    Buffer m_payload;                             // the inflated bytes
    std::uint32_t m_payloadLength = 0; // bytes readable at data() once inflate() succeeded
    std::uint32_t m_storedSize = 0;
    std::uint32_t m_uncompressedSize = 0;
    bool m_inflated = false;
};

// Entries in file order; the list owns them and their payloads.
using FirmwarePackageEntryList = std::vector<std::unique_ptr<FirmwarePackageEntry>>;
