// Feeds the firmware package reader whole files. Each input is re-signed with the package key
// first, since a wrong digest would stop nearly every input before the structure is walked.
#include "usb/firmware/firmwarepackage.h"
#include "usb/firmware/firmwarepackagekey.h"
#include "usb/firmware/sha256withprefix.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// The reader takes a path: an in-memory file keeps the disk out of the loop.
int memoryFile()
{
    static const int fd = memfd_create("firmwarepackage", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    return fd;
}

std::uint32_t be32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
           std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

void touchEntries(FirmwarePackageEntryList& list)
{
    volatile std::uint8_t sink = 0;
    for (int i = 0; FirmwarePackageEntry* entry = FirmwarePackage::entryAt(list, i); ++i) {
        const std::uint8_t* data = entry->data();
        const std::uint32_t size = entry->size();
        if (!data && size != 0)
            std::abort();
        for (std::uint32_t at = 0; at < size; at += 61)
            sink = sink + data[at];
        if (size)
            sink = sink + data[size - 1];
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    std::vector<std::uint8_t> file(input, input + size);
    if (file.size() > 32 && !sha256WithPrefix(kFirmwarePackageKey, kFirmwarePackageKeyLength,
                                              file.data() + 32, file.size() - 32, file.data()))
        std::abort();

    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 ||
        (!file.empty() && pwrite(fd, file.data(), file.size(), 0) != ssize_t(file.size())))
        std::abort();

    // Ask for the resource that the first descriptor names, so entries are made and unpacked.
    std::uint32_t type = 1;
    std::uint32_t id = 0x2C4AC34C;
    if (file.size() >= 32 + 24 + 16) {
        type = std::uint32_t(file[32 + 24 + 10]) << 8 | file[32 + 24 + 11];
        id = be32(file, 32 + 24 + 12);
    }

    FirmwarePackage reader;
    reader.setPath("/proc/self/fd/" + std::to_string(fd));
    FirmwarePackageEntryList list;
    const std::int32_t headers = reader.readHeaders(type, id, list);
    const std::size_t headerEntries = list.size();
    const std::int32_t full = reader.readEntries(type, id, list);
    if (full == FirmwarePackage::Success) {
        touchEntries(list);
        // Read again from the kept image: the same answer.
        if (reader.readEntries(type, id, list) != FirmwarePackage::Success)
            std::abort();
        touchEntries(list);
    }
    // The structure is walked the same way from the file and from the image.
    if (file.size() > 72 && full != headers)
        std::abort();
    if (full == FirmwarePackage::Success && headerEntries != list.size())
        std::abort();
    if (full != FirmwarePackage::Success && !list.empty())
        std::abort();
    return 0;
}
