#include "sim/xmega/xmegamemorywindow.h"

#include "sim/usbbus/usbdstatus.h"
#include "sim/xmega/xmegaunit.h"

#include <algorithm>

namespace Sim {

namespace {
constexpr uint32_t kWindowPage = 65536;
constexpr uint32_t kMemoryLimit = 16u * 1024 * 1024;
} // namespace

void XmegaMemoryWindow::install(const XmegaBootLoader::Install& app, Read read, Write write)
{
    using Out = const std::vector<uint8_t>&;
    using In = std::vector<uint8_t>*;
    app(XmegaUnit::kOut, XmegaUnit::WindowPage, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_page = s.value;
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::WindowWrite, [this, write](const ControlSetup& s, Out out, In) {
        return write(address(s.value), out.data(), uint32_t(out.size())) ? Usbd::kSuccess
                                                                         : Usbd::kStall;
    });
    app(XmegaUnit::kIn, XmegaUnit::WindowRead, [this, read](const ControlSetup& s, Out, In in) {
        in->assign(s.length, 0);
        return read(address(s.value), in->data(), s.length) ? Usbd::kSuccess : Usbd::kStall;
    });
}

uint32_t XmegaMemoryWindow::address(uint16_t offset) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return uint32_t(m_page) * kWindowPage + offset;
}

std::vector<uint8_t> XmegaMemoryWindow::memory(uint32_t address, uint32_t size) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> bytes(size, 0);
    for (uint32_t i = 0; i < size && address + i < m_memory.size(); ++i)
        bytes[i] = m_memory[address + i];
    return bytes;
}

bool XmegaMemoryWindow::read(uint32_t address, uint8_t* out, uint32_t size) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (uint64_t(address) + size > kMemoryLimit)
        return false;
    for (uint32_t i = 0; i < size; ++i)
        out[i] = address + i < m_memory.size() ? m_memory[address + i] : 0;
    return true;
}

bool XmegaMemoryWindow::write(uint32_t address, const uint8_t* data, uint32_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (uint64_t(address) + size > kMemoryLimit)
        return false;
    if (m_memory.size() < address + size)
        m_memory.resize(address + size, 0);
    std::copy(data, data + size, m_memory.begin() + long(address));
    return true;
}

} // namespace Sim
