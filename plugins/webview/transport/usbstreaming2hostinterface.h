#pragma once

#include "plugins/webview/transport/usbref.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"
#include "usb/rpc/streaminginterface.h"
#include "usb/driver/waitclock.h"

#include <cstdint>
#include <memory>

// The RPC stream of a recorder over its streaming interface (class 0xFF, subclass 2): one
// request message written and one reply read at a time, over bulk pipes when the interface
// has them and over class control requests when it has none. Failures throw VornOSRPC
// exceptions. The caller serialises requests (the RPC device's mutex).
class USBStreaming2HostInterface : public VornOSRPC::StreamingInterface
{
public:
    static constexpr uint8_t kInterfaceClass = 0xFF;
    static constexpr uint8_t kInterfaceSubclass = 2;

    // Streaming states of the unit.
    static constexpr uint8_t kStateBusy = 5;
    static constexpr uint8_t kStateReady = 2;
    static constexpr uint8_t kStateReplyReady = 6;

    enum Request : uint8_t {
        kStartRequest = 0x00,
        kGetState = 0x01,
        kContinueRequest = 0x02,
        kGetReplyChunk = 0x03,
    };

    static constexpr uint32_t kDefaultReadTimeoutMs = 30000;
    static constexpr uint32_t kRequestTimeoutMs = 1000;
    static constexpr uint32_t kPipeTimeoutMs = 5000;
    static constexpr uint32_t kPacketsPerChunk = 512;
    static constexpr uint32_t kControlChunk = 1024;
    // A reply that grows past this is refused rather than held in memory.
    static constexpr uint64_t kMaxReplySize = 64u << 20;
    // Pauses between state polls while the unit is busy, and while waitReady waits.
    static constexpr uint32_t kBusyPollMs = 1;
    static constexpr uint32_t kReadyPollMs = 10;

    // Takes a reference on the device and claims the interface. Throws std::runtime_error:
    // "Unable to create iterator", "Unable to find interface", "Usb interface is already in
    // use", "Failed to open usb interface", "Failed to get properties of usb pipe with index
    // n".
    explicit USBStreaming2HostInterface(CVN::USB::IUSBDevice* device);
    ~USBStreaming2HostInterface() override;

    USBStreaming2HostInterface(const USBStreaming2HostInterface&) = delete;
    USBStreaming2HostInterface& operator=(const USBStreaming2HostInterface&) = delete;

    bool waitReady(uint32_t timeoutMs) override;
    bool start() override;
    bool stop() override;
    bool writeStream(const std::vector<uint8_t>& message) override;
    bool readStream(std::vector<uint8_t>& message) override;
    void setTimeout(uint32_t ms) override;
    uint16_t productId() override;
    uint16_t vendorId() override;
    // The device's serial number.
    std::wstring identifier() override;

    bool isBulkMode() const { return m_outPipe != 0 && m_inPipe != 0; }
    uint8_t interfaceNumber() const { return m_interfaceNumber; }
    // Tests shorten the pauses; the product keeps the system clock.
    void setClock(std::shared_ptr<CVN::USB::WaitClock> clock);
    // Lowers the reply limit (tests).
    void setMaxReplySize(uint64_t bytes) { m_maxReplySize = bytes; }

private:
    uint8_t readState();
    // Reads the state while the unit is busy, within the read's time-out.
    uint8_t waitWhileBusy();
    void writeBulk(const std::vector<uint8_t>& message);
    void writeControl(const std::vector<uint8_t>& message);
    void readBulk(std::vector<uint8_t>& message);
    void readControl(std::vector<uint8_t>& message);
    void writePiece(const uint8_t* data, uint32_t length);

    WebViewUsb::UsbRef<CVN::USB::IUSBDevice> m_device;
    WebViewUsb::UsbRef<CVN::USB::IUSBInterface> m_interface;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
    uint8_t m_interfaceNumber = 0;
    uint32_t m_timeoutMs = kDefaultReadTimeoutMs;
    bool m_opened = false;
    uint8_t m_outPipe = 0;
    uint32_t m_outMaxPacket = 0;
    uint64_t m_outChunk = 0;
    uint8_t m_inPipe = 0;
    uint64_t m_inChunk = 0;
    uint64_t m_maxReplySize = kMaxReplySize;
};
