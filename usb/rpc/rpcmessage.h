#pragma once

#include "usb/rpc/rpcbuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VornOSRPC {

// The bytes of RPC requests and replies. Requests: u32 total length, u32 type, payload.
// Replies: u32 (unused), i32 result, payload. All little-endian.
class RpcMessage
{
public:
    enum Type : uint32_t { OpenService = 1, Call = 2, CloseService = 3, ExchangeWord = 4 };

    static constexpr size_t kReplyHeaderSize = 8;
    static constexpr size_t kCallHeaderSize = 28;
    static constexpr size_t kMaxServiceName = 255;
    // The buffer word keeps 28 bits of a buffer's size.
    static constexpr uint64_t kMaxBufferSize = 0x0FFFFFFF;
    static constexpr uint32_t kInputBuffer = 0x80000000;
    static constexpr uint32_t kOutputBuffer = 0x40000000;

    // Empty when the name does not fit its one-byte length.
    static std::vector<uint8_t> openService(const std::string& name);
    static std::vector<uint8_t> closeService(uint32_t handle);
    static std::vector<uint8_t> exchangeWord(uint32_t value);
    // Empty when a buffer's size does not fit its word or the whole does not fit 32 bits.
    static std::vector<uint8_t> call(uint32_t handle, uint32_t method, const void* input,
                                     uint32_t inputLength, uint32_t outputLength,
                                     const RpcBuffer* buffers, uint32_t bufferCount);

    // Splits a reply; false when it is shorter than its header.
    static bool parseReply(const std::vector<uint8_t>& reply, int32_t* result,
                           size_t* payloadOffset);

    // Bytes of reply payload a successful call must carry; false when it cannot be that
    // large.
    static bool callReplySize(uint32_t outputLength, const RpcBuffer* buffers, uint32_t bufferCount,
                              uint64_t* size);
    // Hands a call's payload to the output and the output buffers, in order. False (and
    // nothing written) when the payload is too short.
    static bool distributeCallReply(const uint8_t* payload, size_t payloadSize, void* output,
                                    uint32_t outputLength, const RpcBuffer* buffers,
                                    uint32_t bufferCount);
};

} // namespace VornOSRPC
