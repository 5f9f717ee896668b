#pragma once

#include "usbpotentialdevice.h"

#include <cstdint>
#include <memory>
#include <string>

class USBStreaming2HostInterface;
namespace VornOSRPC {
class StreamingRpcDevice;
}

// A recorder on USB that speaks the RPC layer: its name and versions come from the service
// "SystemProperties" instead of the key/value query.
class UsbRpcPotentialDevice : public UsbPotentialDevice
{
    Q_OBJECT
public:
    static constexpr uint32_t kPropertyTimeoutMs = 500;
    static constexpr uint32_t kGetProperty = 0;
    static constexpr uint32_t kMaxValueLength = 255;

    // Throws std::runtime_error "Device does not have RPC interface" when the unit has no
    // streaming interface, and the stream's own errors when it cannot be claimed.
    UsbRpcPotentialDevice(const std::shared_ptr<ConnectionManager>& manager,
                          CVN::USB::IUSBDevice* device);
    ~UsbRpcPotentialDevice() override;

protected:
    bool readProperty(const std::string& key, QString* value) override;

private:
    std::shared_ptr<USBStreaming2HostInterface> m_stream;
    std::shared_ptr<VornOSRPC::StreamingRpcDevice> m_rpc;
    uint32_t m_service;
};
