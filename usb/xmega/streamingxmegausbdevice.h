#pragma once

#include "usb/rpc/streaminginterface.h"
#include "usb/xmega/xmegausbdevice.h"

#include <memory>

namespace VornOSRPC {
class StreamChunkAssembler;
}

// An XMEGA unit used as a message pipe: messages go out in numbered chunks under a
// transaction id and come back in sequenced chunks that the host acknowledges or refuses,
// all through vendor requests. Throws VornOSRPC::Exception and its subclasses.
class StreamingXmegaUSBDevice : public XmegaUSBDevice, public VornOSRPC::StreamingInterface
{
public:
    enum StreamRequest : uint8_t {
        kProtocolVersion = 0x20,
        kStreamEnable = 0x60,
        kWriteStream = 0x70,
        kBufferStatus = 0x71,
        kReadStream = 0x72,
        kReady = 0x73,
        kWriteTid = 0x74,
        kAckReadBuffer = 0x75,
        kNackReadBuffer = 0x76,
    };

    static constexpr uint16_t kSupportedProtocol = 0x0101;
    static constexpr uint32_t kDefaultReadTimeoutMs = 30000;
    static constexpr uint32_t kMaxWriteChunk = 65532;
    static constexpr uint32_t kMaxReadChunk = 0xFFFF;
    static constexpr int kWriteAttempts = 20;
    static constexpr int kTidReads = 21;
    static constexpr int kBufferPolls = 10;
    static constexpr uint32_t kBufferPollMs = 10;
    static constexpr uint32_t kRetryPauseMs = 200;
    static constexpr uint32_t kReadyPollMs = 50;

    // Null when the unit cannot be opened or does not tell its protocol version.
    static std::shared_ptr<StreamingXmegaUSBDevice> create(CVN::USB::IUSBDevice* usbDevice);
    // The same, except that a unit in its boot loader (no stream there) is made too, with no
    // protocol version: a notifier follows such a unit through its boot loader.
    static std::shared_ptr<StreamingXmegaUSBDevice>
    createInAnyMode(CVN::USB::IUSBDevice* usbDevice);

    // Throws std::runtime_error when the unit cannot be opened and VornOSRPC::Exception when
    // it does not tell its protocol version.
    explicit StreamingXmegaUSBDevice(CVN::USB::IUSBDevice* usbDevice);
    StreamingXmegaUSBDevice(CVN::USB::IUSBDevice* usbDevice, bool allowBootloader);
    ~StreamingXmegaUSBDevice() override;

    bool waitReady(uint32_t timeoutMs) override;
    bool start() override;
    bool stop() override;
    bool writeStream(const std::vector<uint8_t>& message) override;
    bool readStream(std::vector<uint8_t>& message) override;
    void setTimeout(uint32_t ms) override;
    uint16_t productId() override;
    uint16_t vendorId() override;
    std::wstring identifier() override;

    virtual bool writeTid(uint8_t tid);
    virtual bool ackReadBuffer();
    virtual bool nackReadBuffer();
    virtual bool bufferStatus(bool& writeReady, bool& readReady, uint32_t& readLength,
                              uint8_t& deviceTid);

    uint16_t protocolVersion() const { return m_protocolVersion; }
    uint8_t transactionId() const { return m_transactionId; }

private:
    void checkProtocol() const;
    // Status 0 is true, a stalled pipe false; any other status throws.
    bool checked(CVN::USB::CVNUsbStatus status, const char* name) const;
    bool writeMessage(const std::vector<uint8_t>& message);
    bool writeAttempt(const std::vector<uint8_t>& message);
    bool readMessage(std::vector<uint8_t>& message, uint32_t limitMs);
    // One look of readMessage: takes or refuses the chunk on offer.
    CVN::USB::WaitClock::Poll readChunk(VornOSRPC::StreamChunkAssembler& assembler,
                                        std::vector<uint8_t>& chunk, std::vector<uint8_t>& message);

    uint16_t m_protocolVersion = 0xFFFF;
    uint8_t m_transactionId = 1;
    uint32_t m_readTimeoutMs = kDefaultReadTimeoutMs;
};
