// Cut the device's tunnel byte stream into messages, fed in reads of the sizes the input's
// first byte picks.
#include "plugins/webview/transport/usbtunnelmessagereader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

class NullSink : public CVN::USBTunnelMessageReader::Sink
{
public:
    uint64_t payloadLeft = 0;
    void connectionOpened(uint16_t) override {}
    void tokensReceived(uint16_t, uint64_t) override {}
    void connectionClosed(uint16_t, uint16_t) override {}
    // Refuses what no 4 MiB ring could hold, as the engine does.
    bool payloadBegin(uint16_t, uint64_t length) override
    {
        payloadLeft = length;
        return length <= 4194304;
    }
    void payloadPiece(uint16_t, const char*, size_t size) override
    {
        if (size == 0 || size > payloadLeft)
            __builtin_trap();
        payloadLeft -= size;
    }
    void payloadEnd(uint16_t) override
    {
        if (payloadLeft != 0)
            __builtin_trap();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t step = size_t(data[0]) + 1;
    NullSink sink;
    CVN::USBTunnelMessageReader reader(&sink);
    for (size_t at = 1; at < size; at += step) {
        const size_t n = std::min(step, size - at);
        if (!reader.feed(reinterpret_cast<const char*>(data) + at, n))
            break;
    }
    return 0;
}
