#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace CVN {
namespace USB {

// Puts the manufacturing record of a recorder's Ethernet port (its addresses and options,
// written at the factory) into the unit's flash. Units without an Ethernet port take it as
// done without touching anything.
class LoadEthernetMfgSettings
{
public:
    static constexpr std::size_t kRecordSize = 86;
    using Record = std::array<std::uint8_t, kRecordSize>;

    virtual ~LoadEthernetMfgSettings() = default;
    virtual bool load(const Record& settings) = 0;
};

} // namespace USB
} // namespace CVN
