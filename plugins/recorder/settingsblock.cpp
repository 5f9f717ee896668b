#include "plugins/recorder/settingsblock.h"

#include <cstring>
#include <new>

namespace {

enum class Walk { End, Stopped, Broken };

// Visits the items of a block whose header passed and whose `total` bytes are readable.
// `visit(item, length)` returns true to stop. An item whose head or body leaves the block,
// or whose length cannot even hold its head, breaks the walk there.
template<typename Visit> Walk walkItems(const std::uint8_t* bytes, std::uint32_t total, Visit visit)
{
    const std::uint32_t count = SettingsBlock::readU32(bytes + 8);
    std::uint32_t offset = SettingsBlock::kHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (offset > total - SettingsBlock::kItemHeadSize)
            return Walk::Broken;
        const std::uint32_t length = SettingsBlock::readU32(bytes + offset);
        if (length < SettingsBlock::kItemHeadSize || length > total - offset)
            return Walk::Broken;
        if (visit(bytes + offset, length))
            return Walk::Stopped;
        offset += length;
    }
    return Walk::End;
}

} // namespace

SettingsBlock::~SettingsBlock()
{
    clear();
}

std::uint32_t SettingsBlock::readU32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

void SettingsBlock::writeU32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = std::uint8_t(value >> 24);
    p[1] = std::uint8_t(value >> 16);
    p[2] = std::uint8_t(value >> 8);
    p[3] = std::uint8_t(value);
}

void SettingsBlock::clear()
{
    delete[] m_data;
    m_data = nullptr;
    m_capacity = 0;
}

bool SettingsBlock::create(std::uint32_t capacity)
{
    clear();
    // The header alone needs 12 bytes, whatever the caller asked for.
    if (capacity < kHeaderSize)
        capacity = kHeaderSize;
    m_data = new (std::nothrow) std::uint8_t[capacity];
    if (!m_data)
        return false;
    m_capacity = capacity;
    std::memset(m_data, 0, capacity);
    writeU32(m_data, kHeaderSize);
    writeU32(m_data + 4, kMagic);
    writeU32(m_data + 8, 0);
    return true;
}

bool SettingsBlock::isValidHeader(const std::uint8_t* bytes, std::size_t size)
{
    if (!bytes || size < kHeaderSize)
        return false;
    const std::uint32_t total = readU32(bytes);
    return total >= kHeaderSize && total <= kMaxSize && readU32(bytes + 4) == kMagic;
}

bool SettingsBlock::load(const std::uint8_t* bytes, std::size_t size)
{
    clear();
    if (!isValidHeader(bytes, size))
        return false;
    const std::uint32_t total = readU32(bytes);
    if (total > size)
        return false;
    m_data = new (std::nothrow) std::uint8_t[total];
    if (!m_data)
        return false;
    std::memcpy(m_data, bytes, total);
    m_capacity = total;
    return true;
}

bool SettingsBlock::checkItems(const std::uint8_t* bytes, std::size_t size)
{
    if (!isValidHeader(bytes, size) || readU32(bytes) > size)
        return false;
    return walkItems(bytes, readU32(bytes),
                     [](const std::uint8_t*, std::uint32_t) { return false; }) == Walk::End;
}

std::uint32_t SettingsBlock::totalLength() const
{
    return m_data ? readU32(m_data) : 0;
}

const std::uint8_t* SettingsBlock::find(std::uint32_t key) const
{
    if (!m_data)
        return nullptr;
    const std::uint8_t* found = nullptr;
    walkItems(m_data, totalLength(), [&](const std::uint8_t* item, std::uint32_t) {
        if (readU32(item + 4) != key)
            return false;
        found = item;
        return true;
    });
    return found;
}

bool SettingsBlock::findValue(std::uint32_t key, std::uint32_t& value) const
{
    const std::uint8_t* item = find(key);
    if (!item || readU32(item) < kItemHeadSize + 4)
        return false;
    value = readU32(item + kItemHeadSize);
    return true;
}

bool SettingsBlock::addItem(const std::uint8_t* item, std::size_t size)
{
    if (!item || !m_data || size < kItemHeadSize)
        return false;
    const std::uint32_t length = readU32(item);
    if (length < kItemHeadSize || length > size)
        return false;
    const std::uint32_t key = readU32(item + 4);
    const std::uint32_t total = totalLength();
    if (walkItems(m_data, total, [key](const std::uint8_t* it, std::uint32_t) {
            return readU32(it + 4) == key;
        }) == Walk::Stopped)
        return false;
    // A block the device could not take back is no use to build.
    if (std::uint64_t(total) + length > kMaxSize)
        return false;
    const std::uint32_t newTotal = total + length;
    if (newTotal > m_capacity) {
        auto* grown = new (std::nothrow) std::uint8_t[newTotal];
        if (!grown)
            return false;
        std::memcpy(grown, m_data, total);
        delete[] m_data;
        m_data = grown;
        m_capacity = newTotal;
    }
    std::memcpy(m_data + total, item, length);
    writeU32(m_data, newTotal);
    writeU32(m_data + 8, readU32(m_data + 8) + 1);
    return true;
}

bool SettingsBlock::addValue(std::uint32_t key, std::uint32_t value)
{
    std::uint8_t item[kItemHeadSize + 4];
    writeU32(item, sizeof item);
    writeU32(item + 4, key);
    writeU32(item + 8, value);
    return addItem(item, sizeof item);
}
