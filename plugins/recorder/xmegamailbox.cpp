#include "plugins/recorder/xmegamailbox.h"

#include "usb/xmega/xmegausbdevice.h"

namespace CVN {
namespace DiskRecorder {

XmegaMailbox::XmegaMailbox(std::shared_ptr<XmegaUSBDevice> device)
    : m_device(std::move(device))
{
}

bool XmegaMailbox::readRegister(std::uint32_t reg, std::uint8_t& value)
{
    return m_device && m_device->readMemory(reg, 1, &value);
}

bool XmegaMailbox::readWord(std::uint32_t first, std::uint32_t& word)
{
    // Top byte first: it carries the pending bit.
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        std::uint8_t byte = 0;
        if (!readRegister(first + std::uint32_t(i), byte))
            return false;
        value |= std::uint32_t(byte) << (8 * i);
    }
    word = value;
    return true;
}

bool XmegaMailbox::writeWord(std::uint32_t first, std::uint32_t word)
{
    for (std::uint32_t i = 0; i < 4; ++i) {
        const std::uint8_t byte = std::uint8_t(word >> (8 * i));
        if (!m_device || !m_device->writeMemory(first + i, 1, &byte))
            return false;
    }
    return true;
}

bool XmegaMailbox::send(std::uint32_t command, std::uint32_t argument)
{
    return writeWord(kArgumentRegister, argument) && writeWord(kCommandRegister, command | kGoBit);
}

int XmegaMailbox::poll(int polls, std::uint32_t intervalMs, std::uint32_t& word)
{
    for (int i = 0; i < polls; ++i) {
        if (!readWord(kArgumentRegister, word))
            return -1;
        if (!(word & kPendingBit))
            return 1;
        m_device->clock().sleep(intervalMs);
    }
    return 0;
}

bool XmegaMailbox::execute(std::uint32_t command, std::uint32_t argument, std::uint32_t& result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::uint32_t word = 0;
    if (!send(command, argument) || poll(kResultPolls, kResultPollMs, word) != 1)
        return false;
    result = word & ~kPendingBit;
    return true;
}

bool XmegaMailbox::executeNoResult(std::uint32_t command, std::uint32_t argument, bool& done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!send(command, argument))
        return false;
    std::uint32_t word = 0;
    const int polled = poll(kCompletionPolls, kCompletionPollMs, word);
    if (polled < 0)
        return false;
    done = polled == 1;
    return true;
}

std::uint32_t XmegaMailbox::readChecksum()
{
    std::uint32_t checksum = 0;
    for (std::uint32_t i = 0; i < 4; ++i) {
        std::uint8_t byte = 0;
        if (!readRegister(kChecksumRegister + i, byte))
            return 0;
        checksum |= std::uint32_t(byte) << (8 * i);
    }
    return checksum;
}

std::uint8_t XmegaMailbox::readFpgaVersion()
{
    std::uint8_t version = 0;
    return readRegister(kFpgaVersionRegister, version) ? version : 0;
}

} // namespace DiskRecorder
} // namespace CVN
