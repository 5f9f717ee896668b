// Arbitrary bytes as a recorder's firmware reply body: every reply is either taken with a value
// or refused with a reason, and a taken upload name cannot leave the upload path.
#include "plugins/webview/firmwarereply.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(const FirmwareReply& reply)
{
    const bool ok = reply.outcome == FirmwareReply::Ok;
    if (ok != !reply.value.isEmpty() || ok != reply.error.isEmpty())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const FirmwareReply start = FirmwareReply::parseUpdateStart(body);
    check(start);
    if (start.outcome == FirmwareReply::Ok) {
        for (const QChar c : start.value) {
            if (c == u'/' || c == u'\\' || c == u'?' || c == u'#' || c == u'%' ||
                c.unicode() < 0x20)
                __builtin_trap();
        }
        if (start.value == QLatin1String("..") || start.value == QLatin1String("."))
            __builtin_trap();
    }
    check(FirmwareReply::parseFirmwareInfo(body));
    return 0;
}
