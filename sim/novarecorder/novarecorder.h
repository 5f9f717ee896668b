#pragma once

#include "sim/novarecorder/novadfufunction.h"
#include "sim/novarecorder/novakeyvaluefunction.h"
#include "sim/novarecorder/novastreamingfunction.h"
#include "sim/novarecorder/novatunnelfunction.h"
#include "sim/usbbus/simpleusbdevice.h"

#include <map>
#include <memory>
#include <string>

namespace Sim {

// A USB recorder of the newer platform, in its application or in its DFU boot loader; both
// keep the serial number (and so the device path) across re-enumeration.
//
// Application: interface 0 key/value (0xFF/3/0, class descriptor 0x21 with the capability
// word; status byte = boot mode 1), interface 1 streaming (0xFF/2/0, bulk OUT 0x01 and IN
// 0x81 unless control mode is chosen) with an RPC server offering "SystemProperties",
// interface 2 DFU runtime (0xFE/1/1), interface 3 the TCP tunnel (0xFF/5/0, bulk OUT 0x02
// and IN 0x82 unless control mode is chosen; NovaTunnelFunction). Boot loader: interface 0
// key/value (boot mode 10), interface 1 DFU (0xFE/1/2). A completed download with its manifestation
// becomes the installed image, and the application comes back with it.
//
// Fault knobs: the key/value descriptor's length, the streaming, tunnel and DFU faults, and
// a unit that never comes back from a re-enumeration; the bus's own faults apply on top.
class NovaRecorder : public SimpleUsbDevice, public std::enable_shared_from_this<NovaRecorder>
{
public:
    static constexpr uint16_t kVendorId = 0x2C4A;
    static constexpr uint8_t kApplicationBootMode = 1;
    static constexpr uint8_t kBootloaderBootMode = 10;
    static constexpr uint8_t kSerialIndex = 3;
    // "SystemProperties" method 0: input buffer the key, output buffer the value (NUL
    // padded); the output word is 1 when the key is known.
    static constexpr uint32_t kGetProperty = 0;

    struct Options
    {
        uint16_t productId = 0xBE1D;
        uint16_t revision = 0x0100;
        std::string serial = "NV1234ABCD";
        bool bootloader = false;   // starts in the DFU boot loader
        bool bulkStreaming = true; // the streaming interface has bulk pipes
        uint16_t bulkPacketSize = 512;
        uint32_t capabilities = 0x3;
        uint32_t reenumerateDelayMs = 5;
        bool bulkTunnel = true; // the tunnel interface has bulk pipes
        NovaTunnelFunction::Options tunnel;
        NovaDfuFunction::Options dfu;
        // Key/value answers ("BuildId", "ReleaseVersion", ...) that change once an image is
        // installed, as a new firmware's would.
        std::map<std::string, std::string> valuesAfterInstall;
    };

    struct Faults
    {
        uint8_t keyValueDescriptorLength = 10;
        bool neverComesBack = false; // leaves the bus at its next re-enumeration for good
        NovaStreamingFunction::Faults streaming;
        NovaTunnelFunction::Faults tunnel;
        NovaDfuFunction::Faults dfu;
    };

    explicit NovaRecorder(Options options);
    NovaRecorder();
    ~NovaRecorder() override;

    void control(const TransferPtr& transfer) override;
    void bulk(const TransferPtr& transfer) override;
    void resetDevice() override;
    void resetPipe(uint8_t endpoint) override;
    void detached() override;

    void setFaults(const Faults& faults);
    bool isBootloader() const;
    // Number of times the unit has left and come back.
    int reenumerations() const;

    NovaKeyValueFunction& keyValue() { return m_keyValue; }
    NovaStreamingFunction& streaming() { return m_streaming; }
    NovaTunnelFunction& tunnel() { return m_tunnel; }
    NovaDfuFunction& dfu() { return m_dfu; }
    XmegaRpcServer& rpc() { return m_streaming.rpc(); }

    static constexpr uint8_t kKeyValueInterface = 0;
    static constexpr uint8_t kStreamingInterface = 1;
    static constexpr uint8_t kTunnelInterface = 3;
    static constexpr uint8_t kTunnelOut = 0x02;
    static constexpr uint8_t kTunnelIn = 0x82;
    uint8_t dfuInterface() const;

private:
    void applyPersona(bool bootloader);
    void reenumerate(bool application);

    const Options m_options;
    NovaKeyValueFunction m_keyValue;
    NovaStreamingFunction m_streaming;
    NovaDfuFunction m_dfu;
    NovaTunnelFunction m_tunnel;
    mutable std::mutex m_mutex;
    Faults m_faults;
    bool m_bootloader = false;
    int m_reenumerations = 0;
};

} // namespace Sim
