#pragma once

#include <cstddef>
#include <cstdint>

// The recorder's settings container: a big-endian block of length-prefixed key/value items.
//   block: u32 total length (header included), u32 magic, u32 item count, items...
//   item:  u32 item length (8-byte head included), u32 key, value bytes
// Every read is bounded by the block's total length; an item that does not fit ends the walk.
class SettingsBlock
{
public:
    static constexpr std::uint32_t kMagic = 0x000C3C01;
    static constexpr std::uint32_t kHeaderSize = 12;
    static constexpr std::uint32_t kItemHeadSize = 8;
    static constexpr std::uint32_t kMaxSize = 8192;

    SettingsBlock() = default;
    ~SettingsBlock();
    SettingsBlock(const SettingsBlock&) = delete;
    SettingsBlock& operator=(const SettingsBlock&) = delete;

    // Replaces the content with an empty block in a buffer of at least `capacity` bytes.
    bool create(std::uint32_t capacity);
    // Takes a copy of the block at `bytes`, of which `size` bytes are readable.
    bool load(const std::uint8_t* bytes, std::size_t size);
    // Header tests only: needs the first 12 bytes, not the whole block.
    static bool isValidHeader(const std::uint8_t* bytes, std::size_t size);
    // Header tests plus every item lying inside the block.
    static bool checkItems(const std::uint8_t* bytes, std::size_t size);

    // The first item with `key` (its head included), or null.
    const std::uint8_t* find(std::uint32_t key) const;
    // The first four value bytes of `key` as a big-endian value; false when absent or shorter.
    bool findValue(std::uint32_t key, std::uint32_t& value) const;
    // Appends one whole item (`size` readable bytes at `item`); refuses a key already present.
    bool addItem(const std::uint8_t* item, std::size_t size);
    // Appends a 12-byte item holding `value` big-endian.
    bool addValue(std::uint32_t key, std::uint32_t value);

    const std::uint8_t* data() const { return m_data; }
    std::uint32_t totalLength() const;
    std::uint32_t capacity() const { return m_capacity; }
    void clear();

    static std::uint32_t readU32(const std::uint8_t* p);
    static void writeU32(std::uint8_t* p, std::uint32_t value);

private:
    std::uint8_t* m_data = nullptr;
    std::uint32_t m_capacity = 0;
};
