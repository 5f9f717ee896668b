#pragma once

#include "usb/rpc/rpcbuffer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace VornOSRPC {
class RpcDevice;
} // namespace VornOSRPC

namespace CVN {
namespace DiskRecorder {

// One named service of a streaming recorder, opened on an RPC device: the handle is kept in
// the process's service registry while it is open and closed with the client. Calls throw
// std::system_error with the unit's status when it is not 0; a failed call leaves the
// handle as it was. Integers in the fixed buffers are little-endian.
class RpcServiceClient
{
public:
    static constexpr std::uint32_t kNoHandle = 0xFFFFFFFF;

    explicit RpcServiceClient(std::string name);
    virtual ~RpcServiceClient();

    RpcServiceClient(const RpcServiceClient&) = delete;
    RpcServiceClient& operator=(const RpcServiceClient&) = delete;

    // Opens the service on `device`, retrying up to timeoutMs; nothing to do when it is open
    // there already. A handle on another device is closed first. Throws std::runtime_error
    // when the unit gives no handle.
    void open(std::shared_ptr<VornOSRPC::RpcDevice> device, std::uint32_t timeoutMs);

    const std::string& name() const { return m_name; }
    std::uint32_t handle() const { return m_handle; }

protected:
    void call(std::uint32_t method, const void* input, std::uint32_t inputLength, void* output,
              std::uint32_t outputLength, VornOSRPC::RpcBuffer* buffers = nullptr,
              std::uint32_t bufferCount = 0);
    // A method without fixed input whose fixed output is one little-endian u32 or one byte.
    std::uint32_t callForU32(std::uint32_t method, VornOSRPC::RpcBuffer* buffers = nullptr,
                             std::uint32_t bufferCount = 0);
    std::uint8_t callForU8(std::uint32_t method);
    // A method whose fixed input is a u32 followed by a u32 or a u8, with no output.
    void callWithU32s(std::uint32_t method, std::uint32_t first, std::uint32_t second);
    void callWithU32U8(std::uint32_t method, std::uint32_t first, std::uint8_t second);

    // The text of an output buffer: up to its first zero byte, never past its end.
    static std::string textOf(const std::uint8_t* data, std::size_t size);
    // An input buffer over a name's bytes, without a terminator.
    static VornOSRPC::RpcBuffer inputText(const std::string& text);

private:
    void close();

    std::string m_name;
    std::shared_ptr<VornOSRPC::RpcDevice> m_device;
    std::uint32_t m_handle = kNoHandle;
};

} // namespace DiskRecorder
} // namespace CVN
