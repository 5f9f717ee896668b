#include "sim/xmega/xmegaprogrammer.h"

#include "platform/bytereader.h"
#include "sim/usbbus/usbdstatus.h"
#include "sim/xmega/xmegaunit.h"
#include "sim/xmega/xmegawords.h"

#include <algorithm>
#include <utility>

namespace Sim {

void XmegaProgrammer::install(const XmegaBootLoader::Install& app)
{
    using Out = const std::vector<uint8_t>&;
    using In = std::vector<uint8_t>*;
    app(XmegaUnit::kIn, XmegaUnit::Status, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool busy = m_busyLeft > 0;
        if (busy)
            --m_busyLeft;
        *in = {uint8_t(m_updateMode), uint8_t(busy), uint8_t(m_erasePollsLeft > 0), 0, 0, 0};
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::EnterUpdateMode, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_updateMode = true;
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::LeaveUpdateMode, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stuckInUpdateMode)
            m_updateMode = false;
        m_downloading = false;
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::SelectTarget, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_targets.count(s.value))
            return Usbd::kStall;
        m_selected = s.value;
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kIn, XmegaUnit::Geometry, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Target& t = m_targets[m_selected];
        const uint32_t erase = m_geometryOverride ? m_overrideErase : t.erasePageSize;
        const uint32_t write = m_geometryOverride ? m_overrideWrite : t.writeBlockSize;
        *in = xmegaWords({uint32_t(t.bytes.size()), 0, erase, write});
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::Erase, [this](const ControlSetup&, Out out, In) {
        Platform::ByteReader r(out.data(), out.size());
        uint32_t first = 0, count = 0;
        if (out.size() != 8 || !r.u32(0, &first) || !r.u32(4, &count))
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto t = m_targets.find(m_selected);
        if (!m_updateMode || t == m_targets.end() ||
            (uint64_t(first) + count) * t->second.erasePageSize > t->second.bytes.size())
            return Usbd::kStall;
        m_eraseStart = first;
        m_eraseEnd = first + count;
        m_eraseDone = 0;
        m_erasePollsLeft = std::max(1, m_erasePolls);
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kIn, XmegaUnit::EraseStatus, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint32_t count = m_eraseEnd - m_eraseStart;
        if (m_erasePollsLeft > 0 && !m_eraseError) {
            --m_erasePollsLeft;
            const int polls = std::max(1, m_erasePolls);
            const uint32_t done =
                uint32_t(uint64_t(count) * uint32_t(polls - m_erasePollsLeft) / uint32_t(polls));
            Target& t = m_targets[m_selected];
            const size_t from = size_t(m_eraseStart + m_eraseDone) * t.erasePageSize;
            const size_t to = size_t(m_eraseStart + done) * t.erasePageSize;
            std::fill(t.bytes.begin() + long(from), t.bytes.begin() + long(to), uint8_t(0xFF));
            m_eraseDone = done;
        } else if (m_eraseError) {
            m_erasePollsLeft = 0;
        }
        const uint16_t busy = uint16_t(m_erasePollsLeft > 0 ? count - m_eraseDone : 0);
        *in = xmegaWords({m_eraseStart, m_eraseDone, m_eraseEnd});
        in->push_back(uint8_t(busy));
        in->push_back(uint8_t(busy >> 8));
        in->push_back(uint8_t(m_eraseError ? 1 : 0));
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::StartDownload, [this](const ControlSetup&, Out out, In) {
        uint32_t first = 0;
        if (out.size() != 4 || !Platform::ByteReader(out.data(), 4).u32(0, &first))
            return Usbd::kStall;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_updateMode || !m_targets.count(m_selected))
            return Usbd::kStall;
        m_downloadAddress = uint64_t(first) * m_targets[m_selected].writeBlockSize;
        m_downloading = true;
        return Usbd::kSuccess;
    });
}

uint32_t XmegaProgrammer::download(const std::vector<uint8_t>& data)
{
    if (data.empty())
        return Usbd::kSuccess;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto t = m_targets.find(m_selected);
    if (!m_downloading || t == m_targets.end() ||
        m_downloadAddress + data.size() > t->second.bytes.size())
        return Usbd::kStall;
    for (size_t i = 0; i < data.size(); ++i)
        t->second.bytes[size_t(m_downloadAddress) + i] &= data[i];
    m_downloadAddress += data.size();
    m_busyLeft = m_busyPolls;
    m_written = true;
    return Usbd::kSuccess;
}

void XmegaProgrammer::setFaults(const XmegaFaults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuckInUpdateMode = faults.stuckInUpdateMode;
    m_eraseError = faults.eraseError;
}

bool XmegaProgrammer::takeWritten()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_written, false);
}

void XmegaProgrammer::rebooted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_updateMode = false;
    m_downloading = false;
    m_erasePollsLeft = 0;
    m_busyLeft = 0;
}

void XmegaProgrammer::addTarget(uint16_t target, uint32_t size, uint32_t erasePageSize,
                                uint32_t writeBlockSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Target& t = m_targets[target];
    t.erasePageSize = erasePageSize;
    t.writeBlockSize = writeBlockSize;
    t.bytes.assign(size, 0xFF);
}

XmegaProgrammer::Target XmegaProgrammer::target(uint16_t target) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_targets.find(target);
    return it == m_targets.end() ? Target() : it->second;
}

void XmegaProgrammer::setTargetBytes(uint16_t target, std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_targets[target].bytes = std::move(bytes);
}

void XmegaProgrammer::overrideGeometry(uint32_t erasePageSize, uint32_t writeBlockSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_geometryOverride = true;
    m_overrideErase = erasePageSize;
    m_overrideWrite = writeBlockSize;
}

void XmegaProgrammer::setErasePolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_erasePolls = polls;
}

void XmegaProgrammer::setBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyPolls = polls;
}

void XmegaProgrammer::stayBusy(int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyLeft = polls;
}

bool XmegaProgrammer::inUpdateMode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_updateMode;
}

} // namespace Sim
