#include "usb/driver/descriptorwalk.h"

#include "platform/bytereader.h"

namespace CVN {
namespace USB {

namespace {
constexpr uint8_t kInterfaceDescriptor = 4;
constexpr uint8_t kAnyType = 0xFF;
} // namespace

DescriptorWalk::DescriptorWalk(const uint8_t* configuration, size_t size)
    : m_data(configuration)
    , m_end(0)
{
    uint16_t total = 0;
    if (Platform::ByteReader(configuration, size).u16(2, &total))
        m_end = total < size ? total : size;
}

const uint8_t* DescriptorWalk::find(uint32_t interfaceId, const uint8_t* previous,
                                    uint8_t type) const
{
    Platform::ByteReader r(m_data, m_end);
    int64_t interfaceCount = -1;
    bool inPart = false;
    bool pastPrevious = previous == nullptr;
    size_t offset = 0;
    uint8_t length = 0;
    uint8_t descriptorType = 0;
    while (r.u8(offset, &length) && length >= 2 && r.fits(offset, length)) {
        r.u8(offset + 1, &descriptorType);
        const uint8_t* here = m_data + offset;
        if (descriptorType == kInterfaceDescriptor) {
            if (inPart)
                return nullptr;
            ++interfaceCount;
            inPart = interfaceCount == int64_t(interfaceId);
        }
        if (inPart) {
            if (pastPrevious && (type == kAnyType || descriptorType == type))
                return here;
            if (here == previous)
                pastPrevious = true;
        }
        offset += length;
    }
    return nullptr;
}

} // namespace USB
} // namespace CVN
