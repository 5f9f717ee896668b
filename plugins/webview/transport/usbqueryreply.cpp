#include "plugins/webview/transport/usbqueryreply.h"

#include "platform/bytereader.h"

#include <cstring>

bool UsbQueryReply::capabilities(const uint8_t* descriptor, uint32_t* out)
{
    if (!descriptor || descriptor[0] < kMinDescriptorLength)
        return false;
    return Platform::ByteReader(descriptor, descriptor[0]).u32(2, out);
}

std::string UsbQueryReply::value(const uint8_t* reply, size_t transferred)
{
    if (!reply)
        return {};
    const void* end = std::memchr(reply, 0, transferred);
    const size_t length = end ? size_t(static_cast<const uint8_t*>(end) - reply) : transferred;
    return std::string(reinterpret_cast<const char*>(reply), length);
}

bool UsbQueryReply::handle(const uint8_t* reply, size_t transferred, uint16_t* out)
{
    return Platform::ByteReader(reply, transferred).u16(0, out);
}
