#include "usb/fx2/atmelat25hardwareaccess.h"

#include "usb/driver/iusbdevice.h"
#include "usb/fx2/abstractusbdevice.h"
#include "usb/fx2/bridgerequest.h"

#include <algorithm>
#include <cstring>

namespace CVN {
namespace USB {

namespace {
enum : uint8_t {
    kRequestRead = 0xCF,
    kRequestWriteAddress = 0xDE,
    kRequestReady = 0xDF,
};
constexpr uint32_t kReadTimeout = 10000;
} // namespace

AtmelAT25HardwareAccess::AtmelAT25HardwareAccess(AbstractUSBDevice* device)
    : m_device(device)
    , m_usb(device ? device->usbDevice() : nullptr)
{
    if (m_usb)
        m_usb->AddRef();
}

AtmelAT25HardwareAccess::~AtmelAT25HardwareAccess()
{
    if (m_usb)
        m_usb->Release();
}

uint32_t AtmelAT25HardwareAccess::pageSize()
{
    return kPageSize;
}

bool AtmelAT25HardwareAccess::beginAccess()
{
    if (!m_device || !m_device->enterHardwareAccess(0))
        return false;
    m_writeAddress = 0;
    m_open = true;
    m_device->clock().sleep(kAccessSettleMs);
    return true;
}

bool AtmelAT25HardwareAccess::endAccess()
{
    m_open = false;
    return m_device && m_device->leaveHardwareAccess();
}

bool AtmelAT25HardwareAccess::write(const uint8_t* data, uint32_t length)
{
    uint32_t address = m_writeAddress;
    m_writeAddress += length;
    if (length == 0 || !data || !m_device)
        return false;
    // The address request carries 16 bits: past them a write would wrap onto the start.
    if (uint64_t(address) + length > kAddressSpace)
        return false;
    uint8_t page[kPageSize];
    for (uint32_t done = 0; done < length; done += kPageSize, address += kPageSize) {
        const uint32_t chunk = std::min(length - done, kPageSize);
        std::memcpy(page, data + done, chunk);
        std::memset(page + chunk, 0, kPageSize - chunk);
        const uint8_t at[2] = {uint8_t(address >> 8), uint8_t(address)};
        if (!sendVendorRequest(m_usb, false, kRequestWriteAddress, 0, 0, at, sizeof at,
                               AbstractUSBDevice::kRequestTimeout,
                               AbstractUSBDevice::kRequestTimeout) ||
            !m_device->writeBulkData(page, kPageSize) || !waitReady(20, 1))
            return false;
    }
    return true;
}

bool AtmelAT25HardwareAccess::read(uint32_t address, uint8_t* buffer, uint32_t length)
{
    if (!buffer || length == 0 || length > kMaxRead)
        return false;
    return sendVendorRequest(m_usb, true, kRequestRead, uint16_t((address >> 16) & 0xFF),
                             uint16_t(address), buffer, uint16_t(length), kReadTimeout,
                             kReadTimeout);
}

bool AtmelAT25HardwareAccess::waitReady(uint32_t tries, uint32_t intervalMs)
{
    if (!m_device)
        return false;
    for (uint32_t i = 0; i < tries; ++i) {
        m_device->clock().sleep(intervalMs);
        uint8_t ready = 0;
        if (!sendVendorRequest(m_usb, true, kRequestReady, 0, 0, &ready, 1,
                               AbstractUSBDevice::kRequestTimeout,
                               AbstractUSBDevice::kRequestTimeout))
            return false;
        if (ready)
            return true;
    }
    return false;
}

} // namespace USB
} // namespace CVN
