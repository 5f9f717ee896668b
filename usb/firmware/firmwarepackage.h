#pragma once

#include "usb/firmware/firmwarepackageentry.h"

#include <cstdint>
#include <memory>
#include <string>

// Reads the authenticated firmware package files that ship in a plug-in's resources: checks the
// digest, walks the packages and their descriptors and hands back the entries of one resource.
// Plain data code: no device, no thread, no Qt; failures are result codes, nothing is printed.
class FirmwarePackage
{
public:
    enum Result : std::int32_t {
        Success = 0,
        NoPath = 1,
        Unreadable = 3,
        TooShort = 4,
        BadDigest = 5,
        BadDescriptor = 6,
        BadPackageHeader = 7,
    };

    FirmwarePackage();
    ~FirmwarePackage();
    FirmwarePackage(const FirmwarePackage&) = delete;
    FirmwarePackage& operator=(const FirmwarePackage&) = delete;

    // Sets the file to read and drops any image read from the previous one. Always 0.
    std::int32_t setPath(const std::string& path);
    const std::string& path() const { return m_path; }

    // Entries of the resource with their payloads; the file is authenticated first.
    std::int32_t readEntries(std::uint32_t resourceType, std::uint32_t resourceId,
                             FirmwarePackageEntryList& list);
    // Entries without payloads and without authentication.
    std::int32_t readHeaders(std::uint32_t resourceType, std::uint32_t resourceId,
                             FirmwarePackageEntryList& list);
    std::int32_t read(std::uint32_t resourceType, std::uint32_t resourceId,
                      FirmwarePackageEntryList& list, bool headersOnly);

    static FirmwarePackageEntry* entryAt(const FirmwarePackageEntryList& list, int index);
    static void clearEntries(FirmwarePackageEntryList& list);

private:
    class Source;

    std::int32_t load(Source& source);
    std::int32_t walk(Source& source, std::uint32_t resourceType, std::uint32_t resourceId,
                      FirmwarePackageEntryList& list, bool headersOnly);
    void dropImage();

    std::string m_path;
    // The whole file once a full read succeeded; entries hold on to the parts they hand out.
    std::shared_ptr<const std::uint8_t> m_image;
    std::uint32_t m_fileSize = 0;
};
