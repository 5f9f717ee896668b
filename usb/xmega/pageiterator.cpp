#include "usb/xmega/pageiterator.h"

#include <algorithm>

PageIterator::PageIterator(uint32_t start, uint32_t length, uint32_t pageSize)
    : m_pageSize(pageSize ? pageSize : 1)
    , m_page(start / m_pageSize)
    , m_offset(start % m_pageSize)
    , m_chunk(std::min(m_pageSize - m_offset, length))
    , m_remaining(length)
{
}

void PageIterator::next()
{
    m_remaining -= m_chunk;
    m_page += 1;
    m_offset = 0;
    m_chunk = std::min(m_remaining, m_pageSize);
}
