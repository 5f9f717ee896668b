#pragma once

#include <cstddef>
#include <cstdint>

namespace Platform {

// Little-endian reads from a byte block of known size. Every read checks offset and width
// against the size here, in one place; a read that does not fit answers false and leaves
// the output untouched.
class ByteReader
{
public:
    ByteReader(const void* data, size_t size)
        : m_data(static_cast<const uint8_t*>(data))
        , m_size(data ? size : 0)
    {
    }

    size_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }

    bool fits(size_t offset, size_t width) const
    {
        return offset <= m_size && width <= m_size - offset;
    }

    bool u8(size_t offset, uint8_t* out) const
    {
        if (!fits(offset, 1))
            return false;
        *out = m_data[offset];
        return true;
    }

    bool u16(size_t offset, uint16_t* out) const
    {
        if (!fits(offset, 2))
            return false;
        *out = uint16_t(m_data[offset] | m_data[offset + 1] << 8);
        return true;
    }

    bool u32(size_t offset, uint32_t* out) const
    {
        if (!fits(offset, 4))
            return false;
        *out = uint32_t(m_data[offset]) | uint32_t(m_data[offset + 1]) << 8 |
               uint32_t(m_data[offset + 2]) << 16 | uint32_t(m_data[offset + 3]) << 24;
        return true;
    }

    bool u64(size_t offset, uint64_t* out) const
    {
        uint32_t lo = 0;
        uint32_t hi = 0;
        if (!u32(offset, &lo) || !u32(offset + 4, &hi))
            return false;
        *out = uint64_t(hi) << 32 | lo;
        return true;
    }

    // A pointer to width bytes at offset, or null when they do not fit.
    const uint8_t* at(size_t offset, size_t width) const
    {
        return fits(offset, width) ? m_data + offset : nullptr;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};

} // namespace Platform
