#include "usb/rpc/rpcmessage.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"

#include <cstring>
#include <limits>

namespace VornOSRPC {

namespace {

std::vector<uint8_t> request(uint32_t type, size_t payload)
{
    std::vector<uint8_t> bytes(8 + payload, 0);
    Platform::ByteWriter w(bytes.data(), bytes.size());
    w.u32(0, uint32_t(bytes.size()));
    w.u32(4, type);
    return bytes;
}

std::vector<uint8_t> withWord(uint32_t type, uint32_t value)
{
    std::vector<uint8_t> bytes = request(type, 4);
    Platform::ByteWriter(bytes.data(), bytes.size()).u32(8, value);
    return bytes;
}

} // namespace

std::vector<uint8_t> RpcMessage::openService(const std::string& name)
{
    if (name.size() > kMaxServiceName)
        return {};
    std::vector<uint8_t> bytes = request(OpenService, 1 + name.size());
    Platform::ByteWriter w(bytes.data(), bytes.size());
    w.u8(8, uint8_t(name.size()));
    w.bytes(9, name.data(), name.size());
    return bytes;
}

std::vector<uint8_t> RpcMessage::closeService(uint32_t handle)
{
    return withWord(CloseService, handle);
}

std::vector<uint8_t> RpcMessage::exchangeWord(uint32_t value)
{
    return withWord(ExchangeWord, value);
}

std::vector<uint8_t> RpcMessage::call(uint32_t handle, uint32_t method, const void* input,
                                      uint32_t inputLength, uint32_t outputLength,
                                      const RpcBuffer* buffers, uint32_t bufferCount)
{
    if (bufferCount && !buffers)
        return {};
    uint64_t total = kCallHeaderSize + 4ull * bufferCount + inputLength;
    for (uint32_t i = 0; i < bufferCount; ++i) {
        if (buffers[i].size > kMaxBufferSize || (buffers[i].size && !buffers[i].data))
            return {};
        if (buffers[i].input)
            total += buffers[i].size;
    }
    if (total > std::numeric_limits<uint32_t>::max())
        return {};

    std::vector<uint8_t> bytes(size_t(total), 0);
    Platform::ByteWriter w(bytes.data(), bytes.size());
    w.u32(0, uint32_t(total));
    w.u32(4, Call);
    w.u32(8, handle);
    w.u32(12, method);
    w.u32(16, inputLength);
    w.u32(20, outputLength);
    w.u32(24, bufferCount);
    size_t at = kCallHeaderSize;
    for (uint32_t i = 0; i < bufferCount; ++i, at += 4) {
        uint32_t word = uint32_t(buffers[i].size & kMaxBufferSize);
        if (buffers[i].input)
            word |= kInputBuffer;
        if (buffers[i].output)
            word |= kOutputBuffer;
        w.u32(at, word);
    }
    // Without input bytes the announced length goes out as zeros.
    if (input)
        w.bytes(at, input, inputLength);
    at += inputLength;
    for (uint32_t i = 0; i < bufferCount; ++i) {
        if (!buffers[i].input)
            continue;
        w.bytes(at, buffers[i].data, size_t(buffers[i].size));
        at += size_t(buffers[i].size);
    }
    return bytes;
}

bool RpcMessage::parseReply(const std::vector<uint8_t>& reply, int32_t* result,
                            size_t* payloadOffset)
{
    uint32_t word = 0;
    if (!Platform::ByteReader(reply.data(), reply.size()).u32(4, &word) ||
        reply.size() < kReplyHeaderSize)
        return false;
    *result = int32_t(word);
    *payloadOffset = kReplyHeaderSize;
    return true;
}

bool RpcMessage::callReplySize(uint32_t outputLength, const RpcBuffer* buffers,
                               uint32_t bufferCount, uint64_t* size)
{
    uint64_t need = outputLength;
    for (uint32_t i = 0; i < bufferCount; ++i) {
        if (!buffers[i].output)
            continue;
        if (buffers[i].size > std::numeric_limits<uint64_t>::max() - need)
            return false;
        need += buffers[i].size;
    }
    *size = need;
    return true;
}

bool RpcMessage::distributeCallReply(const uint8_t* payload, size_t payloadSize, void* output,
                                     uint32_t outputLength, const RpcBuffer* buffers,
                                     uint32_t bufferCount)
{
    uint64_t need = 0;
    if (!callReplySize(outputLength, buffers, bufferCount, &need) || need > payloadSize)
        return false;
    Platform::ByteReader r(payload, payloadSize);
    size_t at = 0;
    if (output && outputLength)
        std::memcpy(output, r.at(at, outputLength), outputLength);
    at += outputLength;
    for (uint32_t i = 0; i < bufferCount; ++i) {
        if (!buffers[i].output)
            continue;
        const size_t n = size_t(buffers[i].size);
        if (n && buffers[i].data)
            std::memcpy(buffers[i].data, r.at(at, n), n);
        at += n;
    }
    return true;
}

} // namespace VornOSRPC
