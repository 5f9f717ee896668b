#pragma once

#include "sim/recorder/recordersettingsstore.h"
#include "sim/xmega/xmegaunit.h"

#include <optional>
#include <utility>

namespace Sim {

// An XMEGA mailbox recorder (product 0xC3A6): the XMEGA unit model with the recorder's
// register file in its memory window.
// - Registers: 1 FPGA version (255 while the application does not answer), 2 status, 8-11
//   CPU checksum (least significant first), 48-51 command word with its go bit (bit 31),
//   52-55 argument in, result out (bit 31 set while the command is pending); little-endian.
// - Commands: 0 set the clock (argument: seconds); 1 read step (argument 1 starts at the
//   block's first byte): result count in bits 24-30, up to three bytes from bit 16 down; 2
//   write step: count in bits 24-30 with 0x80 on the first step, bytes from bit 16 down;
//   the block is applied once its total length has arrived.
// - A command stays pending for an adjustable number of result polls.
class XmegaMailboxRecorder : public XmegaUnit
{
public:
    static constexpr uint16_t kProductId = 0xC3A6;

    struct Mailbox
    {
        int pendingPolls = 1;   // result reads that still show the command pending (-1: forever)
        int emptyReadSteps = 0; // read steps from now on that answer no bytes (-1: all)
    };

    explicit XmegaMailboxRecorder(Options options = defaultOptions());
    static Options defaultOptions();

    RecorderSettingsStore& settings() { return m_settings; }
    void setFirmware(uint8_t fpgaVersion, uint32_t cpuChecksum);
    // The firmware reported once new firmware has been written and the unit has restarted
    // into it (unset: what it reported before).
    void setFirmwareAfterInstall(uint8_t fpgaVersion, uint32_t cpuChecksum);
    void setStatus(uint8_t status);
    void setMailbox(const Mailbox& mailbox);
    // Pending polls for one command only, the others keep the mailbox's setting.
    void setPendingPolls(uint32_t command, int polls);

    uint32_t clock() const;
    // Commands taken, in order, as {command, argument}.
    std::vector<std::pair<uint32_t, uint32_t>> commands() const;

protected:
    void startedNewFirmware() override;
    bool readMemory(uint32_t address, uint8_t* out, uint32_t size) override;
    bool writeMemory(uint32_t address, const uint8_t* data, uint32_t size) override;

private:
    static constexpr uint32_t kRegisterCount = 64;
    uint32_t wordAt(uint32_t first) const;
    void putWord(uint32_t first, uint32_t value);
    // Runs the command in registers 48-51 with the argument in 52-55; under m_mutex.
    void runCommandLocked(std::vector<uint8_t>* complete);

    mutable std::mutex m_mutex;
    RecorderSettingsStore m_settings;
    std::array<uint8_t, kRegisterCount> m_registers{};
    Mailbox m_mailbox;
    std::map<uint32_t, int> m_commandPolls;
    int m_pendingLeft = 0;
    std::vector<uint8_t> m_outgoing;
    size_t m_readAt = 0;
    int m_emptyStepsLeft = 0;
    std::vector<uint8_t> m_incoming;
    uint32_t m_clock = 0;
    std::vector<std::pair<uint32_t, uint32_t>> m_commands;
    std::optional<std::pair<uint8_t, uint32_t>> m_firmwareAfterInstall;
};

} // namespace Sim
