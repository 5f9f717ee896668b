#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace Sim {

// The settings a simulated recorder keeps: one settings block (big-endian: u32 total length,
// u32 magic 0x000C3C01, u32 item count, then items of u32 length, u32 key, value), checked the
// way the unit's firmware checks a block before taking it over. A block it refuses leaves the
// one it had. Thread-safe.
class RecorderSettingsStore
{
public:
    static constexpr uint32_t kMagic = 0x000C3C01;
    static constexpr uint32_t kMaxSize = 8192;
    static constexpr uint32_t kHeaderSize = 12;

    // Starts with the block of a unit fresh from the factory.
    RecorderSettingsStore();

    // Takes the block over when it is well formed; false (and the old block kept) otherwise.
    bool apply(const std::vector<uint8_t>& block);
    std::vector<uint8_t> block() const;
    // Replaces the block as it is, well formed or not (a unit with damaged settings).
    void setRawBlock(std::vector<uint8_t> block);
    // The first four value bytes of a key, big-endian.
    std::optional<uint32_t> value(uint32_t key) const;
    int applied() const;
    int refused() const;

    static bool isWellFormed(const std::vector<uint8_t>& block);
    // The total length a block's header gives, once its first four bytes are there.
    static std::optional<uint32_t> declaredLength(const std::vector<uint8_t>& bytes);
    // A block of 12-byte items holding big-endian values.
    static std::vector<uint8_t> makeBlock(const std::vector<std::pair<uint32_t, uint32_t>>& items);

private:
    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_block;
    int m_applied = 0;
    int m_refused = 0;
};

} // namespace Sim
