#include "sim/fx2/fx2swdbridge.h"

#include "sim/usbbus/usbdstatus.h"

namespace Sim {

namespace {
constexpr uint32_t kPowerUpRequests = 0x50000000;
} // namespace

Fx2SwdBridge::Fx2SwdBridge(std::shared_ptr<SwdMemoryBus> memory)
    : m_memory(std::move(memory))
{
}

uint32_t Fx2SwdBridge::control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                               std::vector<uint8_t>* in)
{
    if (setup.request != SwdWrite && setup.request != SwdRead)
        return kNotHandled;
    const bool read = setup.request == SwdRead;
    if (read != setup.isIn() || setup.length != 4 || (!read && out.size() != 4) ||
        setup.value != 0 || (setup.index & ~0x010Cu) != 0)
        return Usbd::kStall;
    uint32_t value = 0;
    if (!read)
        value = uint32_t(out[0]) << 24 | uint32_t(out[1]) << 16 | uint32_t(out[2]) << 8 | out[3];
    const bool ap = setup.index & 0x100;
    const uint8_t address = uint8_t(setup.index & 0x0C);
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool ok = ap ? accessPort(read, address, &value) : debugPort(read, address, &value);
    if (!ok)
        return Usbd::kStall;
    if (read)
        *in = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    return Usbd::kSuccess;
}

uint32_t Fx2SwdBridge::bulkOut(const std::vector<uint8_t>&)
{
    return Usbd::kStall;
}

bool Fx2SwdBridge::debugPort(bool read, uint8_t address, uint32_t* value)
{
    switch (address) {
    case 0x0:
        if (read) {
            *value = kIdcode;
        } else {
            ++m_aborts;
            if (*value & 0x1E) // STKCMPCLR, STKERRCLR, WDERRCLR, ORUNERRCLR
                m_ctrlStat &= ~kStickyError;
        }
        return true;
    case 0x4:
        if (read) {
            uint32_t v = m_ctrlStat;
            if (m_acknowledge)
                v |= (m_ctrlStat & kPowerUpRequests) << 1;
            *value = v;
        } else {
            m_ctrlStat = (m_ctrlStat & kStickyError) | (*value & kPowerUpRequests);
        }
        return true;
    case 0x8:
        if (read)
            return false;
        m_select = *value;
        return true;
    case 0xC:
        if (!read)
            return false;
        *value = m_rdbuff;
        return true;
    }
    return false;
}

bool Fx2SwdBridge::accessPort(bool read, uint8_t address, uint32_t* value)
{
    const bool powered = m_acknowledge && (m_ctrlStat & kPowerUpRequests) == kPowerUpRequests;
    const bool injected = m_failAt > 0 && --m_failAt == 0;
    if (!powered || (m_ctrlStat & kStickyError) || injected) {
        m_ctrlStat |= kStickyError;
        return false;
    }
    if ((m_select >> 24) != 0) {
        // No such access port: reads as zero.
        if (read)
            m_rdbuff = 0;
        return true;
    }
    const uint8_t reg = uint8_t((m_select & 0xF0) | address);
    uint32_t result = 0;
    switch (reg) {
    case 0x00:
        if (read)
            result = m_csw;
        else
            m_csw = *value;
        break;
    case 0x04:
        if (read)
            result = m_tar;
        else
            m_tar = *value;
        break;
    case 0x0C: {
        const bool ok = read ? m_memory->read32(m_tar, &result) : m_memory->write32(m_tar, *value);
        if (!ok) {
            m_ctrlStat |= kStickyError;
            return false;
        }
        if (((m_csw >> 4) & 3) == 1)
            m_tar += 4;
        break;
    }
    case 0xFC:
        if (!read)
            return false;
        result = m_idr;
        break;
    default:
        break;
    }
    if (read) {
        // Posted: this read gives the previous result; the new one waits in RDBUFF.
        *value = m_rdbuff;
        m_rdbuff = result;
    }
    return true;
}

void Fx2SwdBridge::setAcknowledgePowerUp(bool acknowledge)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_acknowledge = acknowledge;
}

void Fx2SwdBridge::setAccessPortIdr(uint32_t idr)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idr = idr;
}

void Fx2SwdBridge::setCsw(uint32_t csw)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_csw = csw;
}

void Fx2SwdBridge::failAccessPortAccess(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failAt = n;
}

uint32_t Fx2SwdBridge::csw() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_csw;
}

bool Fx2SwdBridge::stickyError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ctrlStat & kStickyError;
}

int Fx2SwdBridge::aborts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_aborts;
}

} // namespace Sim
