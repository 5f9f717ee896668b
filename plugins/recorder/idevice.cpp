#include "plugins/recorder/idevice.h"

namespace CVN {
namespace DiskRecorder {

IDevice::~IDevice() = default;

std::uint32_t IDevice::addRef()
{
    return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t IDevice::release()
{
    // acq_rel: the deleting thread must see every write made under the other references.
    const std::uint32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0)
        delete this;
    return count;
}

bool IDevice::isLegacy()
{
    std::uint16_t productId = 0;
    return getProductId(productId) && isLegacyProductId(productId);
}

bool IDevice::isLegacyProductId(std::uint16_t productId)
{
    switch (productId) {
    case 0xC34C:
    case 0xC34D:
    case 0xC35A:
    case 0xC367:
    case 0xC3A3:
    case 0xC3A6:
        return true;
    default:
        return false;
    }
}

} // namespace DiskRecorder
} // namespace CVN
