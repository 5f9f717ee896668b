#pragma once

#include "usb/driver/iusbinterfaceiterator.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace CVN {
namespace USB {

class CUSBDevice;

class CUSBInterfaceIterator final : public IUSBInterfaceIterator
{
public:
    // Holds a reference on the device.
    CUSBInterfaceIterator(CUSBDevice* device, std::vector<uint32_t> interfaceIds);

    uint32_t AddRef() override;
    uint32_t Release() override;
    bool next(IUSBInterface** interface) override;

private:
    ~CUSBInterfaceIterator() override;

    std::atomic<uint32_t> m_refs{1};
    CUSBDevice* m_device;
    std::vector<uint32_t> m_ids;
    size_t m_next = 0;
};

} // namespace USB
} // namespace CVN
