#include "sim/fx2/at25eeprom.h"

#include "sim/usbbus/usbdstatus.h"

namespace Sim {

At25Eeprom::At25Eeprom(size_t size)
    : m_memory(size, 0xFF)
{
}

uint32_t At25Eeprom::control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                             std::vector<uint8_t>* in)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (setup.request) {
    case Fx2Peripheral::WriteAddress:
        if (setup.isIn() || out.size() != 2)
            return Usbd::kStall;
        m_address = uint32_t(out[0]) << 8 | out[1];
        return Usbd::kSuccess;
    case Fx2Peripheral::ReadyByte:
        return readyByte(setup, &m_busy, in);
    case Fx2Peripheral::SpiRead: {
        if (!setup.isIn())
            return Usbd::kStall;
        const size_t address = size_t(setup.value & 0xFF) << 16 | setup.index;
        if (address > m_memory.size() || setup.length > m_memory.size() - address)
            return Usbd::kStall;
        in->assign(m_memory.begin() + long(address),
                   m_memory.begin() + long(address + setup.length));
        return Usbd::kSuccess;
    }
    default:
        return kNotHandled;
    }
}

uint32_t At25Eeprom::bulkOut(const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (data.size() != kPageSize || m_address > m_memory.size() ||
        kPageSize > m_memory.size() - m_address)
        return Usbd::kStall;
    std::copy(data.begin(), data.end(), m_memory.begin() + m_address);
    m_writes.push_back(m_address);
    m_busy = m_busyPolls;
    return Usbd::kSuccess;
}

std::vector<uint8_t> At25Eeprom::contents() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memory;
}

void At25Eeprom::setContents(std::vector<uint8_t> contents)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_memory = std::move(contents);
}

void At25Eeprom::setBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyPolls = polls;
}

std::vector<uint32_t> At25Eeprom::writeAddresses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

} // namespace Sim
