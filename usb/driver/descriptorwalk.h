#pragma once

#include <cstddef>
#include <cstdint>

namespace CVN {
namespace USB {

// Finds descriptors of one interface inside a configuration descriptor. Interface
// descriptors are counted from 0 (alternate settings too); interface n's part runs from its
// interface descriptor up to the next one. The walk trusts nothing in the bytes: it stops at
// wTotalLength, at the end of the data, at a bLength below 2 and at a descriptor running past
// either end, so every descriptor it gives lies whole inside the data.
class DescriptorWalk
{
public:
    DescriptorWalk(const uint8_t* configuration, size_t size);

    // The first descriptor of type (0xFF: any) in interface n's part after previous, or from
    // the part's start when previous is null. Null when there is none.
    const uint8_t* find(uint32_t interfaceId, const uint8_t* previous, uint8_t type) const;

private:
    const uint8_t* m_data;
    size_t m_end;
};

} // namespace USB
} // namespace CVN
