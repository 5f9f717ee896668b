#pragma once

#include "usb/rpc/rpcbuffer.h"

#include <cstdint>
#include <string>

namespace VornOSRPC {

// A unit's named services, opened by name and called by method number. Failures are
// VornOSRPC::RpcException and its subclasses.
class RpcDevice
{
public:
    static constexpr uint32_t kInvalidHandle = 0xFFFFFFFF;
    static constexpr uint32_t kWaitForever = 0xFFFFFFFF;

    virtual ~RpcDevice() = default;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual bool isReady() = 0;
    // kInvalidHandle when the unit refuses (timeoutMs 0) or answers nonsense; throws
    // RpcRequestTimedOutException when no handle came within timeoutMs.
    virtual uint32_t openService(const std::string& name, uint32_t timeoutMs) = 0;
    virtual bool closeService(uint32_t handle) = 0;
    virtual int32_t call(uint32_t handle, uint32_t method, const void* input, uint32_t inputLength,
                         void* output, uint32_t outputLength, RpcBuffer* buffers,
                         uint32_t bufferCount) = 0;
    virtual uint32_t exchangeWord(uint32_t value) = 0;
    virtual void setTimeout(uint32_t ms) = 0;
    virtual uint16_t productId() = 0;
    virtual uint16_t vendorId() = 0;
    virtual std::wstring identifier() = 0;
};

} // namespace VornOSRPC
