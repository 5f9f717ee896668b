#include "sim/xmega/xmegabootloader.h"

#include "platform/bytewriter.h"
#include "sim/usbbus/usbdstatus.h"
#include "sim/xmega/xmegaunit.h"

#include <algorithm>

namespace Sim {

void XmegaBootLoader::install(const Install& boot)
{
    using Out = const std::vector<uint8_t>&;
    using In = std::vector<uint8_t>*;
    boot(XmegaUnit::kIn, XmegaUnit::BootBlockSize, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        in->assign(4, 0);
        Platform::ByteWriter(in->data(), in->size()).u32(0, m_blockSize);
        return Usbd::kSuccess;
    });
    boot(XmegaUnit::kOut, XmegaUnit::BootStartDownload, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = true;
        m_done = false;
        m_image.clear();
        m_blocks.clear();
        return Usbd::kSuccess;
    });
    boot(XmegaUnit::kOut, XmegaUnit::BootDownloadBlock, [this](const ControlSetup& s, Out out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started || m_blockSize == 0)
            return Usbd::kStall;
        if (out.empty()) {
            m_done = true;
            m_started = false;
            return Usbd::kSuccess;
        }
        const size_t at = size_t(s.value) * m_blockSize;
        if (m_image.size() < at + out.size())
            m_image.resize(at + out.size(), 0xFF);
        std::copy(out.begin(), out.end(), m_image.begin() + long(at));
        m_blocks.push_back(s.value);
        return Usbd::kSuccess;
    });
}

void XmegaBootLoader::setBlockSize(uint32_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blockSize = size;
}

std::vector<uint8_t> XmegaBootLoader::image() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_image;
}

bool XmegaBootLoader::downloadDone() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_done;
}

std::vector<uint16_t> XmegaBootLoader::blockIndexes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks;
}

void XmegaBootLoader::rebooted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_started = false;
}

} // namespace Sim
