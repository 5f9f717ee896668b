#include "usb/driver/devicefilter.h"

namespace CVN {
namespace USB {

DeviceFilter DeviceFilter::fromLists(const uint32_t* vendorIds, uint32_t vendorCount,
                                     const uint32_t* productIds, uint32_t productCount)
{
    DeviceFilter filter;
    if (vendorIds)
        filter.vendorIds.assign(vendorIds, vendorIds + vendorCount);
    if (productIds)
        filter.productIds.assign(productIds, productIds + productCount);
    return filter;
}

} // namespace USB
} // namespace CVN
