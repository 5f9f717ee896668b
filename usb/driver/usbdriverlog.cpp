#include "usb/driver/usbdriverlog.h"

#include "usb/driver/usbcontrolrequest.h"

#include <algorithm>

Q_LOGGING_CATEGORY(lcUsbDriver, "pellworth.usb.driver", QtInfoMsg)

namespace CVN {
namespace USB {

QByteArray payloadHex(const void* data, size_t length)
{
    if (!data || length == 0)
        return QByteArray("-");
    const size_t shown = std::min(length, kLoggedPayloadBytes);
    QByteArray hex =
        QByteArray::fromRawData(static_cast<const char*>(data), qsizetype(shown)).toHex(' ');
    if (shown < length)
        hex += " ...";
    return hex;
}

void logControlTransfer(const QLoggingCategory& (*category)(), const UsbControlRequest& request,
                        CVNUsbStatus status)
{
    if (!category().isDebugEnabled())
        return;
    const bool in = request.bmRequestType & 0x80;
    // An IN transfer's payload is only there when it came.
    const bool payload = !in || status == kCVNUsbSuccess;
    qCDebug(
        category, "%s type 0x%02X request 0x%02X value 0x%04X index 0x%04X length %u: %s, data %s",
        in ? "IN" : "OUT", request.bmRequestType, request.bRequest, request.wValue, request.wIndex,
        unsigned(request.wLength), CVNUsbStatusText(status).c_str(),
        payload ? payloadHex(request.data, in ? request.transferred : request.wLength).constData()
                : "-");
}

} // namespace USB
} // namespace CVN
