#include "sim/deckcontroller/zynqbootimage.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"

namespace Sim {

namespace {

constexpr size_t kIdAt = 0x24;
constexpr uint32_t kId = 0x584C4E58;
constexpr size_t kSumFrom = 0x20;
constexpr size_t kSumTo = 0x48; // the checksum's own place
constexpr size_t kHeaderEnd = kSumTo + 4;

uint32_t headerSum(const Platform::ByteReader& r)
{
    uint32_t sum = 0;
    for (size_t at = kSumFrom; at < kSumTo; at += 4) {
        uint32_t word = 0;
        r.u32(at, &word);
        sum += word;
    }
    return sum;
}

} // namespace

std::vector<uint8_t> ZynqBootImage::make(size_t size, uint32_t seed)
{
    std::vector<uint8_t> image(size < kHeaderEnd ? kHeaderEnd : size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    Platform::ByteWriter w(image.data(), image.size());
    w.u32(kIdAt, kId);
    w.u32(kSumTo, ~headerSum(Platform::ByteReader(image.data(), image.size())));
    return image;
}

bool ZynqBootImage::bootable(const uint8_t* bytes, size_t size)
{
    Platform::ByteReader r(bytes, size);
    uint32_t id = 0, checksum = 0;
    return r.u32(kIdAt, &id) && id == kId && r.u32(kSumTo, &checksum) && checksum == ~headerSum(r);
}

} // namespace Sim
