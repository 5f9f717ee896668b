#include "plugins/webview/transport/dfustatus.h"

#include "platform/bytereader.h"

bool DfuStatus::parse(const uint8_t* data, size_t size, DfuStatus* out)
{
    Platform::ByteReader r(data, size);
    DfuStatus s;
    uint16_t low = 0;
    uint8_t high = 0;
    if (size < kSize || !r.u8(0, &s.status) || !r.u16(1, &low) || !r.u8(3, &high) ||
        !r.u8(4, &s.state) || !r.u8(5, &s.stringIndex))
        return false;
    s.pollTimeoutMs = uint32_t(high) << 16 | low;
    *out = s;
    return true;
}
