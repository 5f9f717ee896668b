#include "usb/fx2/swdhardwareaccess.h"

#include "usb/driver/iusbdevice.h"
#include "usb/fx2/abstractusbdevice.h"
#include "usb/fx2/bridgerequest.h"

namespace CVN {
namespace USB {

namespace {
enum : uint8_t {
    kRequestRegisterWrite = 0xC0,
    kRequestRegisterRead = 0xC1,
};
constexpr uint32_t kClearStickyErrors = 0x1E;
} // namespace

SwdHardwareAccess::SwdHardwareAccess(AbstractUSBDevice* device)
    : m_device(device)
    , m_usb(device ? device->usbDevice() : nullptr)
{
    if (m_usb)
        m_usb->AddRef();
}

SwdHardwareAccess::~SwdHardwareAccess()
{
    if (m_usb)
        m_usb->Release();
}

bool SwdHardwareAccess::transfer(bool read, bool accessPort, uint8_t reg, uint32_t* value)
{
    const uint16_t index = uint16_t((accessPort ? 1 : 0) << 8 | (reg & 0x0C));
    uint8_t word[4] = {};
    if (!read) {
        word[0] = uint8_t(*value >> 24);
        word[1] = uint8_t(*value >> 16);
        word[2] = uint8_t(*value >> 8);
        word[3] = uint8_t(*value);
    }
    if (!sendVendorRequest(m_usb, read, read ? kRequestRegisterRead : kRequestRegisterWrite, 0,
                           index, word, sizeof word, AbstractUSBDevice::kRequestTimeout,
                           AbstractUSBDevice::kRequestTimeout))
        return false;
    if (read)
        *value =
            uint32_t(word[0]) << 24 | uint32_t(word[1]) << 16 | uint32_t(word[2]) << 8 | word[3];
    return true;
}

bool SwdHardwareAccess::dpRead(uint8_t reg, uint32_t* value)
{
    return transfer(true, false, reg, value);
}

bool SwdHardwareAccess::dpWrite(uint8_t reg, uint32_t value)
{
    return transfer(false, false, reg, &value);
}

bool SwdHardwareAccess::apAccess(bool read, uint8_t ap, uint8_t reg, uint32_t* value)
{
    if (!dpWrite(kDpSelect, uint32_t(ap) << 24 | (reg & 0xF0)))
        return false;
    if (!read)
        return transfer(false, true, reg, value);
    // Access port reads are posted: the value arrives with the next read of RDBUFF.
    uint32_t posted = 0;
    return transfer(true, true, reg, &posted) && dpRead(kDpRdbuff, value);
}

bool SwdHardwareAccess::apRead(uint8_t ap, uint8_t reg, uint32_t* value)
{
    if (apAccess(true, ap, reg, value))
        return true;
    recoverFromError();
    return false;
}

bool SwdHardwareAccess::apWrite(uint8_t ap, uint8_t reg, uint32_t value)
{
    if (apAccess(false, ap, reg, &value))
        return true;
    recoverFromError();
    return false;
}

void SwdHardwareAccess::recoverFromError()
{
    uint32_t status = 0;
    if (dpRead(kDpCtrlStat, &status))
        dpWrite(kDpAbort, kClearStickyErrors);
}

bool SwdHardwareAccess::memoryWrite(uint32_t address, uint32_t value)
{
    return apWrite(0, kApTar, address) && apWrite(0, kApDrw, value);
}

bool SwdHardwareAccess::memoryRead(uint32_t address, uint32_t* value)
{
    return apWrite(0, kApTar, address) && apRead(0, kApDrw, value);
}

bool SwdHardwareAccess::connect()
{
    if (!m_device || !m_device->enterHardwareAccess(0))
        return false;
    uint32_t value = 0;
    if (!dpRead(kDpIdcode, &value) || !dpWrite(kDpCtrlStat, kPowerUpRequest))
        return false;
    bool acknowledged = false;
    for (int i = 0; i < kPowerUpReads && !acknowledged; ++i) {
        if (!dpRead(kDpCtrlStat, &value))
            return false;
        acknowledged = (value & kPowerUpAcknowledge) == kPowerUpAcknowledge;
    }
    // Without the power-up acknowledge no access port answers: a target that never gives
    // it is not connected.
    if (!acknowledged)
        return false;
    uint32_t idr = 0;
    if (!apRead(0, kApIdr, &idr))
        return false;
    if (!(idr & (1u << 16)))
        return true;
    uint32_t csw = 0;
    if (!apRead(0, kApCsw, &csw))
        return false;
    if (!(csw & (1u << 6)))
        return true;
    // 32-bit accesses, single address increment.
    return apWrite(0, kApCsw, (csw & ~0x25u) | 0x12u);
}

} // namespace USB
} // namespace CVN
