#pragma once

#include <cstdint>
#include <vector>

namespace CVN {
namespace USB {

// Vendor and product ids a caller wants; an empty list accepts every id. Only the low 16
// bits of an entry count.
struct DeviceFilter
{
    std::vector<uint32_t> vendorIds;
    std::vector<uint32_t> productIds;

    static DeviceFilter fromLists(const uint32_t* vendorIds, uint32_t vendorCount,
                                  const uint32_t* productIds, uint32_t productCount);
};

} // namespace USB
} // namespace CVN
