#include "firmwarepackagewriter.h"

#include "usb/firmware/firmwarepackagekey.h"
#include "usb/firmware/sha256withprefix.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace {

constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kDescriptorRecord = 24;

void put16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = std::uint8_t(value >> 8);
    at[1] = std::uint8_t(value);
}

void put32(std::uint8_t* at, std::uint32_t value)
{
    put16(at, std::uint16_t(value >> 16));
    put16(at + 2, std::uint16_t(value));
}

void appendDescriptor(FirmwarePackageWriter::Bytes& out,
                      const FirmwarePackageWriter::Descriptor& descriptor)
{
    std::uint8_t record[kDescriptorRecord] = {};
    put16(record, descriptor.type);
    put16(record + 2, descriptor.lengthField.value_or(descriptor.length));
    put32(record + 4, descriptor.loadAddress);
    record[8] = descriptor.region;
    record[9] = descriptor.target;
    put16(record + 10, descriptor.resourceType);
    put32(record + 12, descriptor.resourceId);
    put32(record + 16, descriptor.wordC);
    put16(record + 20, descriptor.halfD);
    const std::size_t kept = std::min<std::size_t>(descriptor.length, kDescriptorRecord);
    out.insert(out.end(), record, record + kept);
    out.resize(out.size() + (descriptor.length - kept), 0);
}

} // namespace

FirmwarePackageWriter::Descriptor
FirmwarePackageWriter::Descriptor::firmware(std::uint16_t productId, std::uint8_t target,
                                            std::uint32_t loadAddress)
{
    Descriptor descriptor;
    descriptor.resourceType = 1;
    descriptor.resourceId = kVendorResourceId | productId;
    descriptor.target = target;
    descriptor.loadAddress = loadAddress;
    return descriptor;
}

FirmwarePackageWriter::FirmwarePackageWriter()
    : m_key(projectKey())
{
}

FirmwarePackageWriter::Package& FirmwarePackageWriter::addPackage()
{
    return m_packages.emplace_back();
}

FirmwarePackageWriter::Bytes FirmwarePackageWriter::build(std::string* error) const
{
    Bytes file(kDigestSize, 0);
    for (const Package& package : m_packages) {
        Bytes stored;
        if (package.stored) {
            stored = *package.stored;
        } else if (package.compression == 1) {
            if (!compress(package.payload, package.level, &stored)) {
                if (error)
                    *error = "zlib could not compress a payload";
                return {};
            }
            // Readers refuse a package whose stored payload is larger than its image.
            if (stored.size() > package.payload.size() && !package.uncompressedSize) {
                if (error)
                    *error = "a zlib payload grows when compressed: store it instead";
                return {};
            }
        } else {
            stored = package.payload;
        }

        Bytes descriptors;
        for (const Descriptor& descriptor : package.descriptors)
            appendDescriptor(descriptors, descriptor);
        const std::uint16_t headerSize =
            package.headerSize.value_or(std::uint16_t(kHeaderSize + descriptors.size()));
        const std::uint32_t packageLength = package.packageLength.value_or(
            std::uint32_t(kHeaderSize + descriptors.size() + stored.size()));

        std::uint8_t header[kHeaderSize] = {};
        put16(header, package.magic.value_or(kPackageMagic));
        put32(header + 4, package.wordA);
        put32(header + 8, packageLength);
        put16(header + 12, headerSize);
        header[14] = package.compressionByte.value_or(package.compression);
        header[15] = package.flags;
        put32(header + 16,
              package.uncompressedSize.value_or(std::uint32_t(package.payload.size())));
        put32(header + 20, package.wordB);

        file.insert(file.end(), header, header + kHeaderSize);
        file.insert(file.end(), descriptors.begin(), descriptors.end());
        file.insert(file.end(), stored.begin(), stored.end());
    }
    file.insert(file.end(), m_trailing.begin(), m_trailing.end());
    sign(file, m_key);
    return file;
}

bool FirmwarePackageWriter::write(const std::string& path, std::string* error) const
{
    const Bytes file = build(error);
    if (file.empty())
        return false;
    return writeFile(path, file, error);
}

void FirmwarePackageWriter::sign(Bytes& file, const Bytes& key)
{
    if (file.size() <= kDigestSize)
        return;
    std::uint8_t digest[kDigestSize];
    if (sha256WithPrefix(key.data(), key.size(), file.data() + kDigestSize,
                         file.size() - kDigestSize, digest))
        std::memcpy(file.data(), digest, kDigestSize);
}

FirmwarePackageWriter::Bytes FirmwarePackageWriter::projectKey()
{
    return Bytes(kFirmwarePackageKey, kFirmwarePackageKey + kFirmwarePackageKeyLength);
}

bool FirmwarePackageWriter::compress(const Bytes& input, int level, Bytes* output)
{
    uLongf length = compressBound(uLong(input.size()));
    output->resize(length);
    if (compress2(output->data(), &length, input.data(), uLong(input.size()), level) != Z_OK)
        return false;
    output->resize(length);
    return true;
}

bool FirmwarePackageWriter::writeFile(const std::string& path, const Bytes& bytes,
                                      std::string* error)
{
    const std::string temporary = path + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const int savedErrno = errno;
    if (out && std::fclose(out) != 0)
        ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    if (error)
        *error = "cannot write " + path + ": " + std::strerror(ok ? errno : savedErrno);
    std::remove(temporary.c_str());
    return false;
}
