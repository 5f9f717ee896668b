#include "sim/recorder/xmegamailboxrecorder.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr uint32_t kCommandWord = 48;
constexpr uint32_t kArgumentWord = 52;
constexpr uint32_t kPendingBit = 0x80000000u;

enum MailboxCommand : uint32_t { kMailboxSetClock = 0, kMailboxReadStep = 1, kMailboxWriteStep = 2 };

} // namespace

XmegaMailboxRecorder::XmegaMailboxRecorder(Options options)
    : XmegaUnit(std::move(options))
{
    m_registers[1] = 0x10;
    m_registers[2] = 0x31;
}

XmegaUnit::Options XmegaMailboxRecorder::defaultOptions()
{
    Options options;
    options.productId = kProductId;
    return options;
}

void XmegaMailboxRecorder::setFirmware(uint8_t fpgaVersion, uint32_t cpuChecksum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers[1] = fpgaVersion;
    putWord(8, cpuChecksum);
}

void XmegaMailboxRecorder::setFirmwareAfterInstall(uint8_t fpgaVersion, uint32_t cpuChecksum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firmwareAfterInstall = std::make_pair(fpgaVersion, cpuChecksum);
}

void XmegaMailboxRecorder::startedNewFirmware()
{
    std::optional<std::pair<uint8_t, uint32_t>> installed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        installed = m_firmwareAfterInstall;
    }
    if (installed)
        setFirmware(installed->first, installed->second);
}

void XmegaMailboxRecorder::setStatus(uint8_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers[2] = status;
}

void XmegaMailboxRecorder::setMailbox(const Mailbox& mailbox)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mailbox = mailbox;
    m_emptyStepsLeft = mailbox.emptyReadSteps;
}

void XmegaMailboxRecorder::setPendingPolls(uint32_t command, int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandPolls[command] = polls;
}

uint32_t XmegaMailboxRecorder::clock() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clock;
}

std::vector<std::pair<uint32_t, uint32_t>> XmegaMailboxRecorder::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

uint32_t XmegaMailboxRecorder::wordAt(uint32_t first) const
{
    return uint32_t(m_registers[first]) | uint32_t(m_registers[first + 1]) << 8 |
           uint32_t(m_registers[first + 2]) << 16 | uint32_t(m_registers[first + 3]) << 24;
}

void XmegaMailboxRecorder::putWord(uint32_t first, uint32_t value)
{
    for (uint32_t i = 0; i < 4; ++i)
        m_registers[first + i] = uint8_t(value >> (8 * i));
}

bool XmegaMailboxRecorder::readMemory(uint32_t address, uint8_t* out, uint32_t size)
{
    if (address >= kRegisterCount)
        return XmegaUnit::readMemory(address, out, size);
    if (uint64_t(address) + size > kRegisterCount)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t reg = address + i;
        // The host reads the result word from its top byte down: each read of the top byte
        // is one poll.
        if (reg == kArgumentWord + 3 && m_pendingLeft != 0) {
            if (m_pendingLeft > 0)
                --m_pendingLeft;
            out[i] = uint8_t(m_registers[reg] | 0x80);
            continue;
        }
        out[i] = m_registers[reg];
    }
    return true;
}

bool XmegaMailboxRecorder::writeMemory(uint32_t address, const uint8_t* data, uint32_t size)
{
    if (address >= kRegisterCount)
        return XmegaUnit::writeMemory(address, data, size);
    if (uint64_t(address) + size > kRegisterCount)
        return false;
    std::vector<uint8_t> complete;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (uint32_t i = 0; i < size; ++i) {
            const uint32_t reg = address + i;
            m_registers[reg] = data[i];
            if (reg == kCommandWord + 3 && (data[i] & 0x80))
                runCommandLocked(&complete);
        }
    }
    if (!complete.empty())
        m_settings.apply(complete);
    return true;
}

void XmegaMailboxRecorder::runCommandLocked(std::vector<uint8_t>* complete)
{
    const uint32_t command = wordAt(kCommandWord) & ~kPendingBit;
    const uint32_t argument = wordAt(kArgumentWord);
    m_registers[kCommandWord + 3] &= 0x7F;
    m_commands.emplace_back(command, argument);
    auto polls = m_commandPolls.find(command);
    m_pendingLeft = polls != m_commandPolls.end() ? polls->second : m_mailbox.pendingPolls;
    uint32_t result = 0;
    switch (command) {
    case kMailboxSetClock:
        m_clock = argument;
        break;
    case kMailboxReadStep: {
        if (argument == 1) {
            m_outgoing = m_settings.block();
            m_readAt = 0;
        }
        if (m_emptyStepsLeft != 0) {
            if (m_emptyStepsLeft > 0)
                --m_emptyStepsLeft;
            break;
        }
        const size_t count =
            std::min<size_t>(3, m_outgoing.size() - std::min(m_readAt, m_outgoing.size()));
        result = uint32_t(count) << 24;
        for (size_t i = 0; i < count; ++i)
            result |= uint32_t(m_outgoing[m_readAt + i]) << (16 - 8 * i);
        m_readAt += count;
        break;
    }
    case kMailboxWriteStep: {
        const uint32_t count = (argument >> 24) & 0x7F;
        if (argument & kPendingBit)
            m_incoming.clear();
        for (uint32_t i = 0; i < std::min<uint32_t>(count, 3); ++i)
            m_incoming.push_back(uint8_t(argument >> (16 - 8 * i)));
        const auto total = RecorderSettingsStore::declaredLength(m_incoming);
        const bool usable = total && *total >= RecorderSettingsStore::kHeaderSize &&
                            *total <= RecorderSettingsStore::kMaxSize;
        if ((total && !usable) || (usable && m_incoming.size() >= *total)) {
            if (usable)
                m_incoming.resize(*total);
            complete->swap(m_incoming);
            m_incoming.clear();
        }
        break;
    }
    default:
        break;
    }
    putWord(kArgumentWord, result & ~kPendingBit);
}

} // namespace Sim
