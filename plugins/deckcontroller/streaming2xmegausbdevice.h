#pragma once

#include "usb/driver/cvnusbstatus.h"
#include "usb/rpc/streaminginterface.h"
#include "usb/xmega/xmegausbdevice.h"

#include <cstdint>
#include <memory>
#include <vector>

// The deck controller's USB device: an XMEGA unit (vendor requests on its XMEGA interface)
// that also carries the unit's RPC stream on a second vendor interface (class 0xFF, subclass
// 2) with a bulk pipe each way. A unit that does not tell its stream protocol version (its
// boot loader, say) still serves every XMEGA request but has no stream: the stream operations
// then throw VornOSRPC::Exception. No lock of its own: the RPC layer serialises requests.
class Streaming2XmegaUSBDevice : public XmegaUSBDevice, public VornOSRPC::StreamingInterface
{
public:
    enum StreamRequest : uint8_t {
        kProtocolVersion = 0x20, // vendor IN, 2 bytes
        kStreamEnable = 0x60,    // vendor OUT, wValue 1 start / 0 stop
        kStreamState = 0x01,     // class IN on the stream interface, 1 byte
        kStartOfMessage = 0x00,  // class OUT, wIndex 1
    };

    // Stream states the unit reports.
    enum StreamState : uint8_t {
        kNotStreaming = 0,
        kReplyReady = 2,
        kBusy = 5,
        kReplyReadyAlt = 6,
    };

    static constexpr uint16_t kSupportedProtocol = 0x0101;
    static constexpr uint32_t kDefaultTimeoutMs = 30000;
    static constexpr uint32_t kClassRequestTimeoutMs = 1000;
    static constexpr uint32_t kPipeTimeoutMs = 5000;
    // The start-of-message request addresses the stream interface by this fixed number.
    static constexpr uint16_t kMessageInterface = 1;
    // Pipe chunks are this many maximum-size packets.
    static constexpr uint64_t kPacketsPerChunk = 512;
    // Pause between reads of the stream state while waiting for the unit.
    static constexpr uint32_t kStatePollMs = 2;
    // A reply longer than this is a unit that never stops sending.
    static constexpr uint64_t kMaxReplyBytes = 64u * 1024 * 1024;

    // Null when the unit cannot be opened (the constructor threw).
    static std::shared_ptr<Streaming2XmegaUSBDevice> make(CVN::USB::IUSBDevice* device);

    // Throws std::runtime_error (VornOSRPC::Exception included) when the unit cannot be used.
    explicit Streaming2XmegaUSBDevice(CVN::USB::IUSBDevice* device);
    ~Streaming2XmegaUSBDevice() override;

    bool waitReady(uint32_t timeoutMs) override;
    bool start() override;
    bool stop() override;
    bool writeStream(const std::vector<uint8_t>& message) override;
    bool readStream(std::vector<uint8_t>& message) override;
    void setTimeout(uint32_t ms) override;
    uint16_t productId() override;
    uint16_t vendorId() override;
    std::wstring identifier() override;

    uint16_t protocolVersion() const { return m_protocolVersion; }
    bool hasStream() const { return m_streamInterface != nullptr; }
    uint8_t streamInterfaceNumber() const { return m_streamInterfaceNumber; }
    uint64_t outChunk() const { return m_outChunk; }
    uint64_t inChunk() const { return m_inChunk; }

private:
    uint8_t readState();
    void checkProtocol() const;
    void requireStream() const;
    bool setStreaming(bool on);
    void releaseStream();

    uint16_t m_protocolVersion = 0xFFFF;
    uint16_t m_productId = 0xFFFF;
    uint16_t m_vendorId = 0xFFFF;
    CVN::USB::IUSBInterface* m_streamInterface = nullptr;
    uint8_t m_streamInterfaceNumber = 0;
    uint32_t m_timeoutMs = kDefaultTimeoutMs;
    bool m_opened = false;
    uint8_t m_outPipe = 0;
    uint64_t m_outMaxPacket = 0;
    uint64_t m_outChunk = 0;
    uint8_t m_inPipe = 0;
    uint64_t m_inChunk = 0;
};
