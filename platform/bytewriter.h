#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Platform {

// Little-endian writes into a byte block of known size; a write that does not fit is
// dropped and answers false.
class ByteWriter
{
public:
    ByteWriter(void* data, size_t size)
        : m_data(static_cast<uint8_t*>(data))
        , m_size(data ? size : 0)
    {
    }

    bool fits(size_t offset, size_t width) const
    {
        return offset <= m_size && width <= m_size - offset;
    }

    bool u8(size_t offset, uint8_t value)
    {
        if (!fits(offset, 1))
            return false;
        m_data[offset] = value;
        return true;
    }

    bool u16(size_t offset, uint16_t value)
    {
        if (!fits(offset, 2))
            return false;
        m_data[offset] = uint8_t(value);
        m_data[offset + 1] = uint8_t(value >> 8);
        return true;
    }

    bool u32(size_t offset, uint32_t value)
    {
        if (!fits(offset, 4))
            return false;
        for (int i = 0; i < 4; ++i)
            m_data[offset + i] = uint8_t(value >> (8 * i));
        return true;
    }

    bool u64(size_t offset, uint64_t value)
    {
        return fits(offset, 8) && u32(offset, uint32_t(value)) &&
               u32(offset + 4, uint32_t(value >> 32));
    }

    bool bytes(size_t offset, const void* source, size_t width)
    {
        if (!fits(offset, width))
            return false;
        if (width)
            std::memcpy(m_data + offset, source, width);
        return true;
    }

private:
    uint8_t* m_data;
    size_t m_size;
};

} // namespace Platform
