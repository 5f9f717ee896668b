// Read chunks of the streaming link as a unit might send them, put back together into an
// RPC reply and handed out to a call's outputs.
//
// Input: a u8 output length and a u8 output-buffer size, then chunks, each a u16 length
// (little-endian) followed by that many bytes.
#include "usb/rpc/rpcmessage.h"
#include "usb/xmega/streamchunkassembler.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t outputLength = data[0];
    const uint32_t bufferSize = data[1];
    size_t at = 2;

    VornOSRPC::StreamChunkAssembler assembler;
    while (at + 2 <= size) {
        const size_t length = size_t(data[at]) | size_t(data[at + 1]) << 8;
        at += 2;
        if (length > size - at)
            break;
        std::vector<uint8_t> chunk(data + at, data + at + length);
        at += length;
        if (chunk.size() < VornOSRPC::StreamChunkAssembler::kHeaderSize)
            break;
        const auto verdict = assembler.check(chunk.data(), chunk.size());
        if (verdict == VornOSRPC::StreamChunkAssembler::Refuse) {
            assembler.reset();
            continue;
        }
        if (verdict != VornOSRPC::StreamChunkAssembler::NeedMore)
            break;
        const auto result = assembler.append(chunk.data(), chunk.size());
        if (result == VornOSRPC::StreamChunkAssembler::Fail)
            break;
        if (result != VornOSRPC::StreamChunkAssembler::Complete)
            continue;

        const std::vector<uint8_t> reply = assembler.takeMessage();
        int32_t code = 0;
        size_t offset = 0;
        if (!VornOSRPC::RpcMessage::parseReply(reply, &code, &offset))
            continue;
        std::vector<uint8_t> output(outputLength);
        std::vector<uint8_t> buffer(bufferSize);
        VornOSRPC::RpcBuffer buffers[2];
        buffers[0].input = true;
        buffers[0].data = buffer.data();
        buffers[0].size = buffer.size();
        buffers[1].output = true;
        buffers[1].data = buffer.data();
        buffers[1].size = buffer.size();
        VornOSRPC::RpcMessage::distributeCallReply(reply.data() + offset, reply.size() - offset,
                                                   output.data(), outputLength, buffers, 2);
    }
    return 0;
}
