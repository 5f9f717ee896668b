#include "usb/firmware/firmwarepackageentry.h"

#include <new>
#include <zlib.h>

namespace {

// Deflate cannot expand data by more than 1032:1, so a larger claim is false and is refused
// before anything is allocated for it.
constexpr std::uint64_t kMaxInflateRatio = 1032;

} // namespace

FirmwarePackageEntry::~FirmwarePackageEntry() = default;

const std::uint8_t* FirmwarePackageEntry::data()
{
    return inflate() ? m_payload.get() : nullptr;
}

std::uint32_t FirmwarePackageEntry::size()
{
    return inflate() ? m_payloadLength : 0;
}

bool FirmwarePackageEntry::inflate()
{
    if (!m_payload)
        return false;
    if (m_compressed == 0 || m_inflated)
        return true;

    const std::uint64_t expected = m_uncompressedSize;
    if (expected > std::uint64_t(m_payloadLength) * kMaxInflateRatio)
        return false;
    // One spare byte tells a stream that inflates to more than the header says.
    const std::uint64_t capacity = expected + 1;
    std::unique_ptr<std::uint8_t[]> output(new (std::nothrow) std::uint8_t[capacity]);
    if (!output)
        return false;
    uLongf outputLength = capacity;
    const int result = uncompress(output.get(), &outputLength, m_payload.get(), m_payloadLength);
    if (result != Z_OK || outputLength != expected)
        return false;

    m_payload = std::move(output);
    m_payloadLength = m_uncompressedSize;
    m_inflated = true;
    return true;
}
