#include "sim/recorder/recordersettingsstore.h"

namespace Sim {

namespace {

std::optional<uint32_t> readBigEndian(const std::vector<uint8_t>& bytes, size_t offset)
{
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return std::nullopt;
    return uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 |
           uint32_t(bytes[offset + 2]) << 8 | uint32_t(bytes[offset + 3]);
}

void appendBigEndian(std::vector<uint8_t>* bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes->push_back(uint8_t(value >> shift));
}

constexpr uint32_t kCodec = 0xC3010001;
constexpr uint32_t kContainer = 0xC3010002;
constexpr uint32_t kTimecodeOutput = 0xC3010004;
constexpr uint32_t kTrigger = 0xC3010005;
constexpr uint32_t kProResHq = 0x61706368; // "apch"

} // namespace

RecorderSettingsStore::RecorderSettingsStore()
    : m_block(
          makeBlock({{kCodec, kProResHq}, {kContainer, 1}, {kTimecodeOutput, 0}, {kTrigger, 0}}))
{
}

std::optional<uint32_t> RecorderSettingsStore::declaredLength(const std::vector<uint8_t>& bytes)
{
    return readBigEndian(bytes, 0);
}

bool RecorderSettingsStore::isWellFormed(const std::vector<uint8_t>& block)
{
    const auto total = readBigEndian(block, 0);
    const auto magic = readBigEndian(block, 4);
    const auto count = readBigEndian(block, 8);
    if (!total || !magic || !count || *total < kHeaderSize || *total > kMaxSize ||
        *total != block.size() || *magic != kMagic)
        return false;
    size_t offset = kHeaderSize;
    std::vector<uint32_t> keys;
    for (uint32_t i = 0; i < *count; ++i) {
        const auto length = readBigEndian(block, offset);
        const auto key = readBigEndian(block, offset + 4);
        if (!length || !key || *length < 8 || *length > block.size() - offset)
            return false;
        for (uint32_t seen : keys) {
            if (seen == *key)
                return false;
        }
        keys.push_back(*key);
        offset += *length;
    }
    return offset == block.size();
}

bool RecorderSettingsStore::apply(const std::vector<uint8_t>& block)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isWellFormed(block)) {
        ++m_refused;
        return false;
    }
    m_block = block;
    ++m_applied;
    return true;
}

std::vector<uint8_t> RecorderSettingsStore::block() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_block;
}

void RecorderSettingsStore::setRawBlock(std::vector<uint8_t> block)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_block = std::move(block);
}

std::optional<uint32_t> RecorderSettingsStore::value(uint32_t key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto count = readBigEndian(m_block, 8);
    size_t offset = kHeaderSize;
    for (uint32_t i = 0; count && i < *count; ++i) {
        const auto length = readBigEndian(m_block, offset);
        const auto itemKey = readBigEndian(m_block, offset + 4);
        if (!length || !itemKey || *length < 8)
            break;
        if (*itemKey == key && *length >= 12)
            return readBigEndian(m_block, offset + 8);
        offset += *length;
    }
    return std::nullopt;
}

int RecorderSettingsStore::applied() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_applied;
}

int RecorderSettingsStore::refused() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refused;
}

std::vector<uint8_t>
RecorderSettingsStore::makeBlock(const std::vector<std::pair<uint32_t, uint32_t>>& items)
{
    std::vector<uint8_t> block;
    appendBigEndian(&block, uint32_t(kHeaderSize + 12 * items.size()));
    appendBigEndian(&block, kMagic);
    appendBigEndian(&block, uint32_t(items.size()));
    for (const auto& item : items) {
        appendBigEndian(&block, 12);
        appendBigEndian(&block, item.first);
        appendBigEndian(&block, item.second);
    }
    return block;
}

} // namespace Sim
