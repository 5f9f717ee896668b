#pragma once

#include <cstdint>

// Splits a byte range into pieces that never cross a page boundary.
class PageIterator
{
public:
    PageIterator(uint32_t start, uint32_t length, uint32_t pageSize);

    bool hasMore() const { return m_remaining > 0; }
    void next();

    uint32_t page() const { return m_page; }
    uint32_t offset() const { return m_offset; }
    uint32_t chunk() const { return m_chunk; }
    uint32_t remaining() const { return m_remaining; }

private:
    uint32_t m_pageSize;
    uint32_t m_page;
    uint32_t m_offset;
    uint32_t m_chunk;
    uint32_t m_remaining;
};
