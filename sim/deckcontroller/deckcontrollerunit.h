#pragma once

#include "sim/deckcontroller/deckcontrollerservices.h"
#include "sim/xmega/xmegarpcserver.h"
#include "sim/xmega/xmegaunit.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Sim {

// Faults of the deck controller, on top of the XMEGA unit's and the bus's own. Steps are the
// class and vendor control requests and the bulk transfers the unit takes, counted from the
// moment the faults are set.
struct DeckControllerFaults
{
    // The unit loses power when step powerCutAfterStep + 1 arrives (that request fails) and,
    // unless powerNeverReturns, comes back at once in whatever state its flash holds.
    int powerCutAfterStep = 0;
    bool powerNeverReturns = false;
    // Stream state reads that answer busy (5) before a reply is ready.
    int streamBusyPolls = 0;
    // Status reads that show the read-status flag after a memory read ended.
    int readStatusPolls = 1;
};

// A simulated deck controller (USB product 0xBE32) on the XMEGA model. Interface 0 is the
// XMEGA interface (vendor requests, bulk 0x01 out and 0x81 in); interface 1 (class 0xFF,
// subclass 2, bulk 0x02 out and 0x82 in) carries the RPC stream: a class request (0x21/0x00,
// wIndex 1) starts a message, bulk OUT data up to a short packet ends it, the stream state
// (0xA1/0x01) turns busy and then to reply-ready (2), and the reply is read from 0x82,
// followed by an empty read when it fills whole chunks. Idle and streaming, the state is 6.
//
// Target 0 is the processor's NOR flash with two boot banks of 256 KiB; erased bytes are 0xFF
// and writes can only clear bits. At power-up the unit boots bank A when its boot header
// holds, else bank B, else it stays in recovery: it then answers the recovery probe
// (0xC1/0x00) and its stream offers no services. Memory is read back with 0x41/0x3A (u32
// address of the selected target) and bulk IN reads on 0x81, ended by 0x41/0x3B; the status
// request's byte 3 is the read-status flag. In its XMEGA boot loader (0xC386) the unit has
// neither stream nor bulk pipes.
class DeckControllerUnit : public XmegaUnit
{
public:
    static constexpr uint16_t kProductId = 0xBE32;
    static constexpr uint32_t kBankSize = 0x40000;
    static constexpr uint8_t kStreamOut = 0x02;
    static constexpr uint8_t kStreamIn = 0x82;
    static constexpr uint8_t kMemoryIn = 0x81;

    enum class Persona { Application, Recovery, Bootloader };

    struct DeckOptions
    {
        uint16_t xmegaPacketSize = 512;
        uint16_t protocolVersion = 0x0101;
        uint16_t streamPacketSize = 512;
        uint32_t eraseUnit = 0x10000;
        uint32_t pageSize = 256;
        bool bootloader = false;
        std::array<uint8_t, 16> uniqueId{
            {0xDE, 0xC0, 0x00, 0x01, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
    };

    explicit DeckControllerUnit(DeckOptions options);
    DeckControllerUnit();
    ~DeckControllerUnit() override;

    std::vector<uint8_t> configurationDescriptor(uint8_t index) const override;
    void control(const TransferPtr& transfer) override;
    void bulk(const TransferPtr& transfer) override;
    void attached(UsbBus* bus, DeviceId id) override;

    DeckControllerServices& services() { return m_services; }
    void setDeckFaults(const DeckControllerFaults& faults);
    // What the services report once the unit has powered up from a bank image other than the
    // one it ran before, as after an update (unset: what they reported before).
    void setFirmwareAfterInstall(const std::string& releaseText, uint32_t fpgaVersion,
                                 uint32_t cpuChecksum);

    Persona persona() const;
    // The bank the processor booted from at the last power-up: 0 A, 1 B, -1 none.
    int bootedBank() const;
    std::vector<uint8_t> bank(int bank) const;
    bool bankBootable(int bank) const;
    // Writes a bank directly (as the factory would); takes effect at the next power-up.
    void setBank(int bank, const std::vector<uint8_t>& bytes);
    // Powers the unit off and on again, booting from what the flash holds.
    void powerCycle();

    int steps() const;
    int powerCuts() const;
    // Stream messages the unit has answered.
    int messages() const;

private:
    struct Firmware
    {
        std::string releaseText;
        uint32_t fpgaVersion = 0;
        uint32_t cpuChecksum = 0;
    };

    void installDeckRequests();
    bool takeStep();
    void cutPower();
    void streamOut(const TransferPtr& transfer);
    void memoryIn(const TransferPtr& transfer);
    XmegaRpcServer& streamServer();

    const DeckOptions m_deck;
    DeckControllerServices m_services;
    XmegaRpcServer m_recoveryServer;

    mutable std::mutex m_mutex;
    DeckControllerFaults m_faults;
    int m_steps = 0;
    int m_powerCuts = 0;
    bool m_powered = true;
    Persona m_persona = Persona::Application;
    int m_bootedBank = -1;
    uint16_t m_selectedTarget = 0;
    // Stream.
    bool m_streaming = true;
    std::vector<uint8_t> m_incoming;
    uint8_t m_streamState = 6;
    int m_streamBusyLeft = 0;
    int m_messages = 0;
    // Memory read.
    bool m_reading = false;
    uint32_t m_readAddress = 0;
    std::vector<uint8_t> m_readFlash;
    int m_readStatusLeft = 0;
    std::optional<Firmware> m_firmwareAfterInstall;
    // The image the processor runs, from its last power-up.
    std::vector<uint8_t> m_runningImage;
};

} // namespace Sim
