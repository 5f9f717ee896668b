#include "plugins/webview/transport/dfufunctionaldescriptor.h"

#include "platform/bytereader.h"

bool DfuFunctionalDescriptor::parse(const uint8_t* descriptor, DfuFunctionalDescriptor* out)
{
    if (!descriptor || descriptor[0] < kMinLength)
        return false;
    Platform::ByteReader r(descriptor, descriptor[0]);
    uint8_t type = 0;
    uint8_t attributes = 0;
    DfuFunctionalDescriptor d;
    if (!r.u8(1, &type) || type != kType || !r.u8(2, &attributes) ||
        !r.u16(3, &d.detachTimeoutMs) || !r.u16(5, &d.transferSize) || !r.u16(7, &d.dfuVersion))
        return false;
    d.willDetach = attributes & 0x08;
    d.manifestationTolerant = attributes & 0x04;
    d.canUpload = attributes & 0x02;
    d.canDownload = attributes & 0x01;
    *out = d;
    return true;
}
