// Device replies as the web-view recorder's USB transports read them, each from a buffer of
// exactly the bytes that arrived, so the sanitizers see any read past them.
//
// Input: one selector byte, a u16 count of bytes that arrived (little-endian, may claim more
// than there are), then the reply.
#include "plugins/webview/transport/dfufunctionaldescriptor.h"
#include "plugins/webview/transport/dfustatus.h"
#include "plugins/webview/transport/streamingreplychunk.h"
#include "plugins/webview/transport/usbqueryreply.h"
#include "plugins/webview/transport/usbstringdescriptor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t selector = data[0];
    const size_t claimed = size_t(data[1]) | size_t(data[2]) << 8;
    // The transports only ever pass counts of bytes that arrived.
    const std::vector<uint8_t> reply(data + 3, data + size);
    const size_t transferred = claimed < reply.size() ? claimed : reply.size();

    switch (selector % 6) {
    case 0: {
        uint32_t capabilities = 0;
        // A descriptor's bLength bytes are there (the descriptor walk checks it).
        if (!reply.empty() && reply[0] <= reply.size())
            UsbQueryReply::capabilities(reply.data(), &capabilities);
        break;
    }
    case 1: {
        const std::string value = UsbQueryReply::value(reply.data(), transferred);
        if (value.size() > transferred)
            abort();
        uint16_t handle = 0;
        UsbQueryReply::handle(reply.data(), transferred, &handle);
        break;
    }
    case 2: {
        const std::wstring text = UsbStringDescriptor::decode(reply.data(), transferred);
        if (2 + 2 * text.size() > (transferred < 2 ? 2 : transferred))
            abort();
        break;
    }
    case 3: {
        DfuStatus status;
        if (DfuStatus::parse(reply.data(), transferred, &status) && status.pollTimeoutMs > 0xFFFFFF)
            abort();
        break;
    }
    case 4: {
        DfuFunctionalDescriptor descriptor;
        if (!reply.empty() && reply[0] <= reply.size())
            DfuFunctionalDescriptor::parse(reply.data(), &descriptor);
        break;
    }
    default: {
        size_t length = 0;
        if (StreamingReplyChunk::payloadLength(reply.data(), transferred, &length) &&
            (length > StreamingReplyChunk::kMaxPayload ||
             length + StreamingReplyChunk::kHeaderSize > transferred))
            abort();
        break;
    }
    }
    return 0;
}
