#pragma once

#include "sim/fx2/fx2blockflash.h"
#include "sim/fx2/fx2device.h"
#include "sim/recorder/recordersettingsstore.h"

#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace Sim {

// An FX2 recorder: the FX2 controller model (booting with device release 1 until its RAM
// program is loaded, then re-enumerating) with the recorder firmware's side of the protocol.
// - Registers: 1 FPGA version, 2 status, 3 command and handshake, 8-11 CPU checksum (least
//   significant first).
// - Command 0x81 starts a settings read at the first 512-byte chunk, 0x01 moves to the next;
//   each data-path selection {0, 1} (first packet of the chunk) or {0, 2} (next packet) puts
//   one 64-byte packet on the bulk-in pipe.
// - Commands 0xC1 (first) and 0x41 (next) take one 512-byte packet of a settings block on
//   the bulk-out pipe; 0x42 takes a packet with the clock (big-endian u32 seconds). Bit 0x40
//   of register 3 is cleared once the unit has taken the packet. A block is applied once
//   its total length has arrived.
// - Flashes in hardware-access modes 1 to 4 (16 MiB in mode 1, 1 MiB in the others), written
//   in pages of the product's packet size.
class Fx2Recorder : public Fx2Device
{
public:
    static constexpr uint8_t kPacketSize = 64;
    static constexpr uint32_t kChunkSize = 512;

    explicit Fx2Recorder(uint16_t productId, bool firmwareRunning = true);

    RecorderSettingsStore& settings() { return m_settings; }
    std::shared_ptr<Fx2BlockFlash> flash(uint8_t modeValue) const;
    void setFirmware(uint8_t fpgaVersion, uint32_t cpuChecksum);
    // The firmware reported once a flash has been written and the hardware-access mode left,
    // which restarts the controller into it (unset: what it reported before).
    void setFirmwareAfterInstall(uint8_t fpgaVersion, uint32_t cpuChecksum);
    void setStatus(uint8_t status);

    uint32_t clock() const;
    int clockSets() const;
    // Bulk-out packets taken, and settings chunks the unit armed for reading.
    int packetsTaken() const;

    // Knobs.
    // Reads of register 3 that still show 0x40 after a packet was taken (-1: it stays set).
    void setBusyReads(int reads);
    // The n-th bulk-in packet from now goes out this many bytes short.
    void cutPacket(int n, int bytesShort);

protected:
    uint32_t vendorRequest(const ControlSetup& setup, const std::vector<uint8_t>& out,
                           std::vector<uint8_t>* in) override;
    void registerWritten(uint8_t reg, uint8_t value) override;
    uint8_t registerRead(uint8_t reg) override;
    uint32_t dataBulkOut(const std::vector<uint8_t>& data) override;

private:
    void armPacket(bool first);
    int flashWrites() const;
    void restarted();

    mutable std::mutex m_mutex;
    RecorderSettingsStore m_settings;
    std::map<uint8_t, std::shared_ptr<Fx2BlockFlash>> m_flashes;
    uint8_t m_command = 0;
    // Settings read: the block as it was at 0x81, the chunk and the packet in it.
    std::vector<uint8_t> m_outgoing;
    uint32_t m_chunk = 0;
    uint32_t m_packet = 0;
    // Settings write: the bytes so far.
    std::vector<uint8_t> m_incoming;
    bool m_packetTaken = false;
    int m_busyReads = 1;
    int m_busyReadsLeft = 0;
    int m_packetsTaken = 0;
    int m_cutAt = 0;
    int m_cutBy = 0;
    uint32_t m_clock = 0;
    int m_clockSets = 0;
    std::optional<std::pair<uint8_t, uint32_t>> m_firmwareAfterInstall;
    // Flash writes the running firmware has seen.
    int m_flashWritesSeen = 0;
};

} // namespace Sim
