#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// Writes firmware package files: packages of stored or zlib payloads with their descriptors,
// signed with the package key. Every computed header field can be overridden and a file can be
// re-signed after editing, so a malformed package can still carry a correct digest.
class FirmwarePackageWriter
{
public:
    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint16_t kPackageMagic = 0xC3C3;
    static constexpr std::uint32_t kVendorResourceId = 0x2C4A0000;

    struct Descriptor
    {
        std::uint16_t type = 1;
        std::uint16_t length = 24; // bytes written; fields beyond are left out, zeros fill past 24
        std::uint32_t loadAddress = 0;
        std::uint8_t region = 0;
        std::uint8_t target = 0;
        std::uint16_t resourceType = 1;
        std::uint32_t resourceId = 0;
        std::uint32_t wordC = 0xFFFFFFFF;
        std::uint16_t halfD = 0xFFFF;
        std::optional<std::uint16_t> lengthField; // written in place of length

        // A firmware image descriptor for a USB product of ours.
        static Descriptor firmware(std::uint16_t productId, std::uint8_t target = 0,
                                   std::uint32_t loadAddress = 0);
    };

    struct Package
    {
        Bytes payload;                // the image as the device gets it
        std::uint8_t compression = 0; // 0 stored, 1 zlib
        int level = 9;
        std::uint8_t flags = 0;
        std::uint32_t wordA = 0;
        std::uint32_t wordB = 0;
        std::vector<Descriptor> descriptors;

        // Written in place of the computed values.
        std::optional<std::uint16_t> magic;
        std::optional<std::uint16_t> headerSize;
        std::optional<std::uint32_t> packageLength;
        std::optional<std::uint32_t> uncompressedSize;
        std::optional<std::uint8_t> compressionByte;
        std::optional<Bytes> stored; // written as the payload instead of the encoded image
    };

    FirmwarePackageWriter();

    void setKey(const Bytes& key) { m_key = key; }
    const Bytes& key() const { return m_key; }

    // References stay valid while more packages are added.
    Package& addPackage();
    std::deque<Package>& packages() { return m_packages; }
    const std::deque<Package>& packages() const { return m_packages; }
    Bytes& trailing() { return m_trailing; } // bytes after the last package

    // The signed file; empty with a message when zlib fails or would enlarge a payload.
    Bytes build(std::string* error = nullptr) const;
    bool write(const std::string& path, std::string* error = nullptr) const;

    // Rewrites the digest of a file that was edited after building. Files of 32 bytes or
    // fewer have nothing to sign and stay as they are.
    static void sign(Bytes& file, const Bytes& key);
    static Bytes projectKey();
    static bool compress(const Bytes& input, int level, Bytes* output);
    // Writes to a temporary file beside path and renames it, so readers never see half a file.
    static bool writeFile(const std::string& path, const Bytes& bytes, std::string* error);

private:
    Bytes m_key;
    std::deque<Package> m_packages;
    Bytes m_trailing;
};
