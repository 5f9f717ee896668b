#pragma once

#include "usb/rpc/rpcbuffer.h"
#include "usb/rpc/rpcdevice.h"

#include <cstdint>
#include <memory>
#include <string>

// A client of one named RPC service of the deck controller, opened on an RPC device for the
// span of one operation and closed when it goes, also when the operation throws. The open
// handle is kept in the process's service registry while it is open.
class DeckControllerService
{
public:
    static constexpr uint32_t kOpenTimeoutMs = 500;

    explicit DeckControllerService(std::string name);
    virtual ~DeckControllerService();

    DeckControllerService(const DeckControllerService&) = delete;
    DeckControllerService& operator=(const DeckControllerService&) = delete;

    // Throws std::runtime_error "Could not open service: <name>" when the unit gives no handle.
    void open(const std::shared_ptr<VornOSRPC::RpcDevice>& device,
              uint32_t timeoutMs = kOpenTimeoutMs);
    void close();
    bool isOpen() const { return m_device && m_handle != VornOSRPC::RpcDevice::kInvalidHandle; }
    const std::string& name() const { return m_name; }

protected:
    // Throws std::system_error (system category) for a status other than 0.
    void call(uint32_t method, void* output = nullptr, uint32_t outputLength = 0,
              VornOSRPC::RpcBuffer* buffers = nullptr, uint32_t bufferCount = 0);
    uint32_t callWord(uint32_t method);

private:
    std::string m_name;
    std::shared_ptr<VornOSRPC::RpcDevice> m_device;
    uint32_t m_handle = VornOSRPC::RpcDevice::kInvalidHandle;
};
