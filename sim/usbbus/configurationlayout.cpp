#include "sim/usbbus/configurationlayout.h"

#include "platform/bytereader.h"

namespace Sim {

ConfigurationLayout ConfigurationLayout::parse(const std::vector<uint8_t>& bytes)
{
    ConfigurationLayout layout;
    Platform::ByteReader all(bytes.data(), bytes.size());
    uint16_t total = 0;
    if (!all.u16(2, &total))
        return layout;
    Platform::ByteReader r(bytes.data(), total < bytes.size() ? total : bytes.size());
    size_t offset = 0;
    uint8_t length = 0;
    while (r.u8(offset, &length) && length >= 2 && r.fits(offset, length)) {
        uint8_t type = 0;
        r.u8(offset + 1, &type);
        if (type == 4 && length >= 9) {
            Interface i;
            r.u8(offset + 2, &i.number);
            r.u8(offset + 3, &i.alternateSetting);
            r.u8(offset + 4, &i.endpointCount);
            r.u8(offset + 5, &i.interfaceClass);
            r.u8(offset + 6, &i.subClass);
            r.u8(offset + 7, &i.protocol);
            layout.interfaces.push_back(i);
        } else if (type == 5 && length >= 7 && !layout.interfaces.empty()) {
            Endpoint e;
            r.u8(offset + 2, &e.address);
            r.u8(offset + 3, &e.attributes);
            r.u16(offset + 4, &e.maxPacketSize);
            r.u8(offset + 6, &e.interval);
            layout.interfaces.back().endpoints.push_back(e);
        }
        offset += length;
    }
    return layout;
}

} // namespace Sim
