#include "usb/firmware/firmwarepackageentry.h"

#include "usb/firmware/codeclibraries.h"

#include <cstdint>
#include <limits>
#include <new>
#include <sys/mman.h>

namespace {

// Deflate cannot expand data by more than 1032:1, so a larger claim is false and is refused
// before anything is allocated for it.
constexpr std::uint64_t kMaxInflateRatio = 1032;

constexpr std::uint64_t kHugePage = 2u << 20;
constexpr std::uint64_t kMappedFrom = kHugePage;

} // namespace

void FirmwarePackageEntry::BufferRelease::operator()(std::uint8_t* bytes) const
{
    if (mappedLength)
        ::munmap(bytes, mappedLength);
    else
        delete[] bytes;
}

FirmwarePackageEntry::Buffer FirmwarePackageEntry::allocate(std::uint64_t size)
{
    if (size > std::numeric_limits<std::size_t>::max() - 2 * kHugePage)
        return {};
    if (size < kMappedFrom)
        return Buffer(new (std::nothrow) std::uint8_t[size], BufferRelease{0});

    // Map one huge page more than needed and cut the mapping down to aligned huge pages.
    const std::size_t length = std::size_t((size + kHugePage - 1) & ~(kHugePage - 1));
    const std::size_t reserved = length + kHugePage;
    void* mapped =
        ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return {};
    const std::uintptr_t start = std::uintptr_t(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (start + reserved > aligned + length)
        ::munmap(reinterpret_cast<void*>(aligned + length), start + reserved - aligned - length);
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(aligned);
    ::madvise(bytes, length, MADV_HUGEPAGE); // advice only: small pages work too
    return Buffer(bytes, BufferRelease{length});
}

FirmwarePackageEntry::~FirmwarePackageEntry() = default;

const std::uint8_t* FirmwarePackageEntry::data()
{
    if (!inflate())
        return nullptr;
    return m_inflated ? m_payload.get() : m_stored.get();
}

std::uint32_t FirmwarePackageEntry::size()
{
    return inflate() ? m_payloadLength : 0;
}

bool FirmwarePackageEntry::inflate()
{
    if (m_inflated)
        return true;
    if (!m_stored)
        return false;
    if (m_compressed == 0)
        return true;

    const std::uint64_t expected = m_uncompressedSize;
    if (expected > std::uint64_t(m_storedSize) * kMaxInflateRatio)
        return false;
    Buffer output = allocate(expected);
    if (!output)
        return false;

    const InflateFunctions* isal = inflateFunctions();
    if (!isal)
        return false;
    // The decoder state is too large for the stack. The stream must fill the buffer exactly:
    // more output overflows it, less leaves room.
    std::unique_ptr<inflate_state> state(new (std::nothrow) inflate_state);
    if (!state)
        return false;
    isal->init(state.get());
    state->crc_flag = ISAL_ZLIB;
    state->next_in = const_cast<std::uint8_t*>(m_stored.get());
    state->avail_in = m_storedSize;
    state->next_out = output.get();
    state->avail_out = m_uncompressedSize;
    if (isal->stateless(state.get()) != ISAL_DECOMP_OK || state->avail_out != 0)
        return false;

    m_payload = std::move(output);
    m_payloadLength = m_uncompressedSize;
    m_stored.reset();
    m_inflated = true;
    return true;
}
