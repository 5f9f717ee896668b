#pragma once

#include "sim/usbbus/simpleusbdevice.h"
#include "sim/xmega/xmegabootloader.h"
#include "sim/xmega/xmegafaults.h"
#include "sim/xmega/xmegamemorywindow.h"
#include "sim/xmega/xmegaprogrammer.h"
#include "sim/xmega/xmegarpcserver.h"
#include "sim/xmega/xmegastreamlink.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Sim {

// A simulated XMEGA unit on the bus, in its application or in its boot loader (another
// product id, no bulk pipes). A reboot re-enumerates it under the same path and unique id.
// The application has flash targets (erase sets 0xFF, writes AND into what is there), a
// 64 KiB-paged memory window, a status with update mode and busy flags, the streaming link
// and an RPC server with pluggable services; the boot loader takes block downloads.
// Built from parts that own their state and requests: the programmer, the memory window, the
// boot loader and the stream link; the unit itself answers identity, checksums and reboot,
// applies its own faults to every vendor request, and restarts the parts on a reboot.
//
// Further requests are added with onControl(); derived models may override the memory hooks.
class XmegaUnit : public SimpleUsbDevice, public std::enable_shared_from_this<XmegaUnit>
{
public:
    // The unit's request numbers (bRequest), named here apart from the host's own headers so
    // that the simulation stays an independent check on them.
    enum Request : uint8_t {
        // Boot loader.
        BootBlockSize = 0x03,
        BootStartDownload = 0x04,
        BootDownloadBlock = 0x05,
        // Either side: mode (interface recipient) or unique id (device recipient), checksums,
        // reboot.
        Identify = 0x10,
        Checksums = 0x11,
        Reboot = 0x12,
        // Application.
        ProtocolVersion = 0x20,
        Status = 0x30,
        EnterUpdateMode = 0x31,
        LeaveUpdateMode = 0x32,
        SelectTarget = 0x34,
        Geometry = 0x35,
        Erase = 0x37,
        EraseStatus = 0x38,
        StartDownload = 0x39,
        WindowPage = 0x50,
        WindowWrite = 0x52,
        WindowRead = 0x53,
        EnableStream = 0x60,
        StreamWriteChunk = 0x70,
        StreamBufferStatus = 0x71,
        StreamReadChunk = 0x72,
        StreamReady = 0x73,
        StreamReset = 0x74,
        StreamReplyAck = 0x75,
        StreamReplyRestart = 0x76,
    };

    // Request types of every vendor request the unit takes: device to host, and host to device.
    static constexpr uint8_t kIn = 0xC1;
    static constexpr uint8_t kOut = 0x41;

    static constexpr uint16_t kVendorId = 0x2C4A;
    static constexpr uint16_t kBootloaderProductId = 0xC386;

    using Target = XmegaProgrammer::Target;

    struct Options
    {
        uint16_t productId = 0xC3E4;
        std::array<uint8_t, 16> uniqueId{
            {0x58, 0x4D, 0x45, 0x47, 0x41, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
        bool bootloader = false;
        uint16_t protocolVersion = 0x0101;
        uint8_t initialTid = 1;
        uint16_t packetSize = 512;
        // Message bytes per read chunk (the chunk adds an 8-byte header).
        uint32_t replyChunkPayload = 0xFFFF - 8;
        uint32_t rebootDelayMs = 5;
        std::string instance;
    };

    explicit XmegaUnit(Options options);
    XmegaUnit();
    ~XmegaUnit() override;

    DeviceIdentity identity() const override;
    void control(const TransferPtr& transfer) override;
    void bulk(const TransferPtr& transfer) override;

    XmegaRpcServer& rpc() { return m_rpc; }

    void setFaults(const XmegaFaults& faults);
    // Chunk requests stalled by stallEvery so far.
    int stalls() const;

    bool isBootloader() const;
    std::array<uint8_t, 16> uniqueId() const;
    void setChecksums(uint32_t first, uint32_t second);
    // A target of size bytes, erased (0xFF).
    void addTarget(uint16_t target, uint32_t size, uint32_t erasePageSize, uint32_t writeBlockSize);
    Target target(uint16_t target) const;
    void setTargetBytes(uint16_t target, std::vector<uint8_t> bytes);
    // The geometry reply, whatever the selected target says.
    void overrideGeometry(uint32_t erasePageSize, uint32_t writeBlockSize);
    // Erase status polls an erase takes, and status polls the unit stays busy after writing.
    void setErasePolls(int polls);
    void setBusyPolls(int polls);
    // The unit reports busy for the next polls status reads.
    void stayBusy(int polls);
    bool inUpdateMode() const;

    XmegaProgrammer& programmer() { return m_programmer; }
    XmegaBootLoader& bootLoader() { return m_bootLoader; }
    XmegaStreamLink& streamLink() { return m_streamLink; }
    void setBootloaderBlockSize(uint32_t size);
    // The image the boot loader took, and whether the closing empty block came.
    std::vector<uint8_t> bootloaderImage() const;
    bool bootloaderDownloadDone() const;
    std::vector<uint16_t> bootloaderBlockIndexes() const;

    std::vector<uint8_t> memory(uint32_t address, uint32_t size) const;
    void setReady(bool ready);
    bool streamEnabled() const;
    uint8_t transactionId() const;
    // The next reply message goes out as these bytes instead of the server's answer.
    void setNextRawReply(std::vector<uint8_t> bytes);

    // Restarts into the application or the boot loader.
    void reboot(bool toBootloader);
    // Reboot requests the unit has taken.
    int rebootRequests() const;

protected:
    // The memory window; a derived model maps registers here. Answers false to stall.
    virtual bool readMemory(uint32_t address, uint8_t* out, uint32_t size);
    virtual bool writeMemory(uint32_t address, const uint8_t* data, uint32_t size);
    // The unit starts firmware written into it: as it leaves update mode after a download into
    // a flash target, or as it restarts into its application after a download it has not
    // started yet (into a target, or a whole image through the boot loader). A derived model
    // takes on what the new firmware reports. Runs outside the unit's lock; on a restart, on
    // the bus's worker before the unit is back on the bus.
    virtual void startedNewFirmware() {}

private:
    using In = std::vector<uint8_t>*;
    using Out = const std::vector<uint8_t>&;
    void install();
    std::vector<uint8_t> configuration(bool bootloader) const;
    // Under m_state: whether the request goes through, is stalled or left unanswered.
    enum class Gate { Pass, Stall, Drop };
    Gate gate(const ControlSetup& setup);
    mutable std::mutex m_state;
    Options m_options;
    XmegaFaults m_faults;
    int m_requests = 0;
    int m_rebootRequests = 0;
    // Asked for by the reboot request being answered; done after its reply.
    enum RebootAsked { NoReboot, RebootToApplication, RebootToBootloader };
    RebootAsked m_rebootAfterReply = NoReboot;
    bool m_bootloader = false;
    // Firmware written and not started yet.
    bool m_newFirmware = false;
    uint32_t m_checksums[2] = {0x12345678, 0x9ABCDEF0};

    XmegaRpcServer m_rpc;
    XmegaProgrammer m_programmer;
    XmegaMemoryWindow m_window;

    XmegaBootLoader m_bootLoader;

    XmegaStreamLink m_streamLink;
};

} // namespace Sim
