#include "plugins/webview/transport/usbstringdescriptor.h"

#include "platform/bytereader.h"

#include <algorithm>

std::wstring UsbStringDescriptor::decode(const uint8_t* reply, size_t transferred)
{
    Platform::ByteReader r(reply, transferred);
    uint8_t length = 0;
    if (!r.u8(0, &length) || length < 2 || transferred < 2)
        return {};
    const size_t units = (std::min<size_t>(length, transferred) - 2) / 2;
    std::wstring text;
    text.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint16_t unit = 0;
        r.u16(2 + 2 * i, &unit);
        text.push_back(wchar_t(unit));
    }
    return text;
}
