#pragma once

#include <cstddef>
#include <cstdint>

// One reply chunk of a streaming interface in control mode: a big-endian u16 length, then
// up to kMaxPayload bytes of the reply.
class StreamingReplyChunk
{
public:
    static constexpr size_t kHeaderSize = 2;
    static constexpr size_t kMaxPayload = 1024;

    // The payload's length: the announced one, cut to kMaxPayload and to what arrived. False
    // when not even the header arrived.
    static bool payloadLength(const uint8_t* chunk, size_t transferred, size_t* length);
};
