#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

class XmegaUSBDevice;

namespace CVN {
namespace DiskRecorder {

// The recorder's mailbox in an XMEGA unit's memory window: a command word (registers 48-51,
// bit 31 the go bit) and an argument word that comes back as the result (registers 52-55,
// bit 31 set while the command is pending), each byte one window access. One object per
// operation; its mutex keeps one command at a time on it.
class XmegaMailbox
{
public:
    enum Register : std::uint32_t {
        kFpgaVersionRegister = 1,
        kStatusRegister = 2,
        kChecksumRegister = 8,  // 8 to 11, least significant first
        kCommandRegister = 48,  // 48 to 51
        kArgumentRegister = 52, // 52 to 55
    };
    static constexpr std::uint32_t kGoBit = 0x80000000u;
    static constexpr std::uint32_t kPendingBit = 0x80000000u;
    // Waits for a command with a result, and for one whose completion may be late.
    static constexpr int kResultPolls = 20;
    static constexpr std::uint32_t kResultPollMs = 100;
    static constexpr int kCompletionPolls = 50;
    static constexpr std::uint32_t kCompletionPollMs = 10;

    explicit XmegaMailbox(std::shared_ptr<XmegaUSBDevice> device);

    // Writes the argument, then the command with its go bit.
    bool send(std::uint32_t command, std::uint32_t argument);
    // Sends and waits for the result (bit 31 clear); false on a failed access or when the
    // command is still pending after the last poll.
    bool execute(std::uint32_t command, std::uint32_t argument, std::uint32_t& result);
    // Sends and waits a short while; done tells whether the command completed in that time.
    bool executeNoResult(std::uint32_t command, std::uint32_t argument, bool& done);

    // 0 when a read fails.
    std::uint32_t readChecksum();
    std::uint8_t readFpgaVersion();
    bool readRegister(std::uint32_t reg, std::uint8_t& value);

private:
    bool readWord(std::uint32_t first, std::uint32_t& word);
    bool writeWord(std::uint32_t first, std::uint32_t word);
    // Polls the result word; 1 done, 0 still pending after the polls, -1 a failed read.
    int poll(int polls, std::uint32_t intervalMs, std::uint32_t& word);

    std::mutex m_mutex;
    std::shared_ptr<XmegaUSBDevice> m_device;
};

} // namespace DiskRecorder
} // namespace CVN
