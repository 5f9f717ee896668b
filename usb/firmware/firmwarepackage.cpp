#include "usb/firmware/firmwarepackage.h"

#include "usb/firmware/codeclibraries.h"
#include "usb/firmware/firmwarelog.h"
#include "usb/firmware/firmwarepackagekey.h"
#include "usb/firmware/sha256withprefix.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kDigestSize = 32;
constexpr std::uint64_t kMinimumFullSize = 73; // digest, a 24-byte header and 16-byte descriptors
constexpr std::uint16_t kPackageMagic = 0xC3C3;
constexpr std::uint16_t kMinimumHeaderSize = 48;
constexpr std::uint16_t kMinimumDescriptorLength = 16;
constexpr std::uint16_t kMaximumDescriptorLength = 24;
constexpr std::uint16_t kDescriptorWithExtras = 20;
constexpr std::uint16_t kDescriptorTypeWithHalfD = 2;
constexpr std::uint32_t kResourceTypeCount = 3;
// The file is read and hashed in pieces that stay in the cache between the two.
constexpr std::uint64_t kReadPiece = 256u << 10;

// A package header or descriptor: 24 big-endian bytes. Field offsets are checked against the
// record when the code is compiled, so no field can be read from outside it.
class Record
{
public:
    static constexpr std::size_t kSize = 24;

    std::uint8_t* bytes() { return m_bytes.data(); }

    template<std::size_t At> std::uint8_t u8() const
    {
        static_assert(At + 1 <= kSize);
        return m_bytes[At];
    }
    template<std::size_t At> std::uint16_t u16() const
    {
        static_assert(At + 2 <= kSize);
        return std::uint16_t(m_bytes[At] << 8 | m_bytes[At + 1]);
    }
    template<std::size_t At> std::uint32_t u32() const
    {
        static_assert(At + 4 <= kSize);
        return std::uint32_t(m_bytes[At]) << 24 | std::uint32_t(m_bytes[At + 1]) << 16 |
               std::uint32_t(m_bytes[At + 2]) << 8 | std::uint32_t(m_bytes[At + 3]);
    }

private:
    std::array<std::uint8_t, kSize> m_bytes{};
};

std::uint32_t entryKind(std::uint8_t flags)
{
    for (std::uint32_t bit = 0; bit < 4; ++bit) {
        if (flags & (1u << bit))
            return bit + 1;
    }
    return 0;
}

bool preadAll(int fd, std::uint8_t* out, std::uint64_t length, std::uint64_t offset)
{
    while (length > 0) {
        const std::size_t chunk =
            std::size_t(std::min<std::uint64_t>(length, std::numeric_limits<ssize_t>::max()));
        const ssize_t got = ::pread(fd, out, chunk, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        offset += std::uint64_t(got);
        length -= std::uint64_t(got);
    }
    return true;
}

} // namespace

// Where records come from: the loaded image, or the open file while only headers are read.
// The caller checks every range against the file size first.
class FirmwarePackage::Source
{
public:
    explicit Source(const std::uint8_t* image)
        : m_image(image)
    {
    }
    ~Source()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    bool open(const std::string& path, std::uint32_t* size)
    {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        struct stat info;
        if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
            std::uint64_t(info.st_size) > std::numeric_limits<std::uint32_t>::max())
            return false;
        *size = std::uint32_t(info.st_size);
        return true;
    }
    bool readAt(std::uint8_t* out, std::uint64_t length, std::uint64_t offset) const
    {
        return preadAll(m_fd, out, length, offset);
    }
    void useImage(const std::uint8_t* image) { m_image = image; }
    const std::uint8_t* image() const { return m_image; }

    bool fetch(std::uint64_t offset, Record& record) const
    {
        if (m_image) {
            std::memcpy(record.bytes(), m_image + offset, Record::kSize);
            return true;
        }
        return preadAll(m_fd, record.bytes(), Record::kSize, offset);
    }

private:
    const std::uint8_t* m_image;
    int m_fd = -1;
};

FirmwarePackage::FirmwarePackage() = default;

FirmwarePackage::~FirmwarePackage() = default;

std::int32_t FirmwarePackage::setPath(const std::string& path)
{
    m_path = path;
    dropImage();
    return Success;
}

std::int32_t FirmwarePackage::readEntries(std::uint32_t resourceType, std::uint32_t resourceId,
                                          FirmwarePackageEntryList& list)
{
    return read(resourceType, resourceId, list, false);
}

std::int32_t FirmwarePackage::readHeaders(std::uint32_t resourceType, std::uint32_t resourceId,
                                          FirmwarePackageEntryList& list)
{
    return read(resourceType, resourceId, list, true);
}

std::int32_t FirmwarePackage::read(std::uint32_t resourceType, std::uint32_t resourceId,
                                   FirmwarePackageEntryList& list, bool headersOnly)
{
    std::int32_t result = Success;
    if (m_path.empty()) {
        result = NoPath;
    } else {
        Source source(m_image.get());
        if (!m_image) {
            if (!source.open(m_path, &m_fileSize)) {
                m_fileSize = 0;
                result = Unreadable;
            } else if (!headersOnly) {
                result = load(source);
            }
        }
        if (result == Success)
            result = walk(source, resourceType, resourceId, list, headersOnly);
    }
    if (result != Success) {
        qCDebug(lcFirmware, "package \"%s\" refused: result %d", m_path.c_str(), int(result));
        clearEntries(list);
    }
    return result;
}

std::int32_t FirmwarePackage::load(Source& source)
{
    if (m_fileSize < kMinimumFullSize)
        return TooShort;
    // Without the hashing library nothing is known of the file: unreadable, not forged.
    const CryptoFunctions* crypto = cryptoFunctions();
    if (!crypto)
        return Unreadable;
    FirmwarePackageEntry::Buffer image = FirmwarePackageEntry::allocate(m_fileSize);
    if (!image)
        return Unreadable;

    // One pass: each piece is hashed right after it is read. The stored digest leads the file
    // and is not hashed.
    std::uint64_t done = 0;
    bool unreadable = false;
    const auto next = [&](const std::uint8_t** piece) -> std::int64_t {
        if (done == m_fileSize)
            return 0;
        const std::uint64_t start = done;
        const std::uint64_t length = std::min<std::uint64_t>(kReadPiece, m_fileSize - start);
        if (!source.readAt(image.get() + start, length, start)) {
            unreadable = true;
            return -1;
        }
        done = start + length;
        const std::uint64_t hashed = std::max(start, kDigestSize);
        *piece = image.get() + hashed;
        return std::int64_t(done - hashed);
    };
    std::uint8_t digest[kDigestSize];
    const bool computed =
        sha256WithPrefix(kFirmwarePackageKey, kFirmwarePackageKeyLength, next, digest);
    const bool matches = computed && crypto->memcmp(digest, image.get(), kDigestSize) == 0;
    crypto->cleanse(digest, sizeof digest);
    if (unreadable)
        return Unreadable;
    if (!matches)
        return BadDigest;

    const FirmwarePackageEntry::BufferRelease release = image.get_deleter();
    try {
        // Should this throw, the shared pointer has already released the image.
        m_image = std::shared_ptr<const std::uint8_t>(image.release(), release);
    } catch (const std::bad_alloc&) {
        return Unreadable;
    }
    source.useImage(m_image.get());
    return Success;
}

std::int32_t FirmwarePackage::walk(Source& source, std::uint32_t resourceType,
                                   std::uint32_t resourceId, FirmwarePackageEntryList& list,
                                   bool headersOnly)
{
    clearEntries(list);
    // Every sum below is taken in 64 bits, so no offset or length from the file can wrap.
    const std::uint64_t fileSize = m_fileSize;
    if (fileSize <= kDigestSize)
        return Success;

    std::uint64_t offset = kDigestSize;
    for (;;) {
        Record header;
        if (offset + Record::kSize > fileSize)
            return BadPackageHeader;
        if (!source.fetch(offset, header))
            return Unreadable;
        const std::uint32_t packageLength = header.u32<8>();
        const std::uint16_t headerSize = header.u16<12>();
        const std::uint8_t compression = header.u8<14>();
        const std::uint32_t uncompressedSize = header.u32<16>();
        if (header.u16<0>() != kPackageMagic || packageLength <= headerSize || compression >= 2 ||
            uncompressedSize < packageLength - headerSize || headerSize < kMinimumHeaderSize)
            return BadPackageHeader;
        const std::uint64_t packageEnd = offset + packageLength;
        if (packageEnd > fileSize)
            return BadPackageHeader;
        const std::uint64_t payloadStart = offset + headerSize;
        const std::uint32_t storedSize = packageLength - headerSize;

        std::uint64_t descriptorOffset = offset + Record::kSize;
        while (descriptorOffset < payloadStart) {
            Record descriptor;
            if (descriptorOffset + Record::kSize > fileSize)
                return BadDescriptor;
            if (!source.fetch(descriptorOffset, descriptor))
                return Unreadable;
            const std::uint16_t descriptorType = descriptor.u16<0>();
            const std::uint16_t length = descriptor.u16<2>();
            const std::uint16_t type = descriptor.u16<10>();
            if (length < kMinimumDescriptorLength || length > kMaximumDescriptorLength ||
                type >= kResourceTypeCount)
                return BadDescriptor;

            if (type == resourceType && descriptor.u32<12>() == resourceId) {
                std::unique_ptr<FirmwarePackageEntry> entry(new (std::nothrow)
                                                                FirmwarePackageEntry);
                if (!entry)
                    return BadDescriptor;
                entry->m_packageWordA = header.u32<4>();
                entry->m_packageWordB = header.u32<20>();
                entry->m_kind = entryKind(header.u8<15>());
                entry->m_compressed = compression;
                entry->m_resourceType = type;
                entry->m_resourceId = resourceId;
                entry->m_loadAddress = descriptor.u32<4>();
                entry->m_region = descriptor.u8<8>();
                entry->m_target = descriptor.u8<9>();
                if (length >= kDescriptorWithExtras) {
                    entry->m_descriptorWordC = descriptor.u32<16>();
                    if (descriptorType == kDescriptorTypeWithHalfD)
                        entry->m_descriptorHalfD = descriptor.u16<20>();
                }
                entry->m_storedSize = storedSize;
                entry->m_uncompressedSize = uncompressedSize;
                if (!headersOnly) {
                    // The image is verified and never written again, so entries share it.
                    entry->m_stored =
                        std::shared_ptr<const std::uint8_t>(m_image, source.image() + payloadStart);
                    entry->m_payloadLength = storedSize;
                }
                try {
                    list.push_back(std::move(entry));
                } catch (const std::bad_alloc&) {
                    return BadDescriptor;
                }
            }
            descriptorOffset += length;
        }

        offset = packageEnd;
        if (offset >= fileSize)
            return Success;
    }
}

void FirmwarePackage::dropImage()
{
    m_image.reset();
    m_fileSize = 0;
}

FirmwarePackageEntry* FirmwarePackage::entryAt(const FirmwarePackageEntryList& list, int index)
{
    if (index < 0 || std::size_t(index) >= list.size())
        return nullptr;
    return list[std::size_t(index)].get();
}

void FirmwarePackage::clearEntries(FirmwarePackageEntryList& list)
{
    list.clear();
}
