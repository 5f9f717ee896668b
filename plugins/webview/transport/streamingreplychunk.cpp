#include "plugins/webview/transport/streamingreplychunk.h"

#include <algorithm>

bool StreamingReplyChunk::payloadLength(const uint8_t* chunk, size_t transferred, size_t* length)
{
    if (!chunk || transferred < kHeaderSize)
        return false;
    const size_t announced = size_t(chunk[0]) << 8 | chunk[1];
    *length = std::min({announced, kMaxPayload, transferred - kHeaderSize});
    return true;
}
