#include "sim/fx2/fx2blockflash.h"

#include "sim/usbbus/usbdstatus.h"

namespace Sim {

Fx2BlockFlash::Fx2BlockFlash()
    : Fx2BlockFlash(Geometry(), Paged)
{
}

Fx2BlockFlash::Fx2BlockFlash(Geometry geometry, WriteFormat format)
    : m_geometry(geometry)
    , m_format(format)
    , m_flash(size_t(geometry.blockSize) * geometry.blockCount, 0xFF)
{
}

void Fx2BlockFlash::entered()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streamAddress = m_streamStart;
}

bool Fx2BlockFlash::addressFrom(const std::vector<uint8_t>& bytes, size_t offset,
                                uint64_t* address) const
{
    const size_t width = m_geometry.addressWidth;
    if (bytes.size() < offset + width || width > 8)
        return false;
    uint64_t a = 0;
    for (size_t i = 0; i < width; ++i)
        a = a << 8 | bytes[offset + i];
    *address = a;
    return true;
}

uint32_t Fx2BlockFlash::control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                std::vector<uint8_t>* in)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (setup.request) {
    case Fx2Peripheral::ReadyByte:
        return readyByte(setup, &m_busy, in);
    case Fx2Peripheral::WriteAddress: {
        uint64_t address = 0;
        if (setup.isIn() || out.size() != m_geometry.addressWidth || !addressFrom(out, 0, &address))
            return Usbd::kStall;
        m_pageAddress = address;
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::BlockErase: {
        uint64_t address = 0;
        if (setup.isIn() || out.size() != m_geometry.addressWidth ||
            !addressFrom(out, 0, &address) || address % m_geometry.blockSize != 0 ||
            address >= m_flash.size())
            return Usbd::kStall;
        std::fill(m_flash.begin() + long(address),
                  m_flash.begin() + long(address + m_geometry.blockSize), 0xFF);
        m_erased.push_back(uint32_t(address / m_geometry.blockSize));
        m_busy = m_erasePolls;
        return Usbd::kSuccess;
    }
    default:
        return kNotHandled;
    }
}

uint32_t Fx2BlockFlash::program(uint64_t address, const uint8_t* data, size_t length)
{
    if (address > m_flash.size() || length > m_flash.size() - address)
        return Usbd::kStall;
    for (size_t i = 0; i < length; ++i)
        m_flash[address + i] &= data[i];
    m_busy = m_writePolls;
    ++m_writes;
    return Usbd::kSuccess;
}

int Fx2BlockFlash::writes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

uint32_t Fx2BlockFlash::bulkOut(const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (m_format) {
    case Paged:
        if (data.size() != m_geometry.pageSize)
            return Usbd::kStall;
        return program(m_pageAddress, data.data(), data.size());
    case Inline: {
        uint64_t address = 0;
        const size_t width = m_geometry.addressWidth;
        if (!addressFrom(data, 0, &address) || data.size() - width > m_geometry.pageSize)
            return Usbd::kStall;
        return program(address, data.data() + width, data.size() - width);
    }
    case Stream: {
        const uint32_t status = program(m_streamAddress, data.data(), data.size());
        if (status == Usbd::kSuccess)
            m_streamAddress += data.size();
        return status;
    }
    }
    return Usbd::kStall;
}

std::vector<uint8_t> Fx2BlockFlash::contents(uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address > m_flash.size())
        return {};
    const size_t end = std::min(m_flash.size(), size_t(address) + length);
    return std::vector<uint8_t>(m_flash.begin() + address, m_flash.begin() + long(end));
}

void Fx2BlockFlash::setContents(uint32_t address, const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < data.size() && address + i < m_flash.size(); ++i)
        m_flash[address + i] = data[i];
}

std::vector<uint32_t> Fx2BlockFlash::erasedBlocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_erased;
}

void Fx2BlockFlash::setWriteFormat(WriteFormat format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_format = format;
}

void Fx2BlockFlash::setStreamStart(uint32_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streamStart = address;
}

void Fx2BlockFlash::setBusyPolls(int afterErase, int afterWrite)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_erasePolls = afterErase;
    m_writePolls = afterWrite;
}

} // namespace Sim
