#include "plugins/webview/transport/usbcontrolrequestbuilder.h"

#include "usb/driver/iusbdevice.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcWebViewUsb, "pellworth.webview.usb", QtWarningMsg)

using namespace CVN::USB;

namespace WebViewUsb {

UsbControlRequest makeControlRequest(RequestType type, Direction direction,
                                     RequestRecipient recipient, uint8_t request)
{
    UsbControlRequest r;
    r.bmRequestType =
        uint8_t(uint8_t(direction) << 7 | (uint8_t(type) & 3) << 5 | (uint8_t(recipient) & 0x1F));
    r.bRequest = request;
    r.timeout = kDefaultControlTimeoutMs;
    r.timeout2 = kDefaultControlTimeoutMs;
    return r;
}

CVNUsbStatus sendControlRequest(IUSBDevice* device, UsbControlRequest& request,
                                uint32_t* transferred)
{
    request.transferred = 0;
    const CVNUsbStatus status = device ? device->controlTransfer(&request) : kCVNUsbNoDevice;
    // A layer that reported more than was asked for cannot have put it in the buffer.
    const uint32_t moved =
        status == kCVNUsbSuccess ? std::min<uint32_t>(request.transferred, request.wLength) : 0;
    if (transferred)
        *transferred = moved;
    if (lcWebViewUsb().isDebugEnabled()) {
        const bool in = request.bmRequestType & 0x80;
        const QByteArray data = request.data ? QByteArray(static_cast<const char*>(request.data),
                                                          int(in ? moved : request.wLength))
                                             : QByteArray();
        qCDebug(lcWebViewUsb, "control %02x %02x value %04x index %04x length %u -> %s, %u: %s",
                request.bmRequestType, request.bRequest, request.wValue, request.wIndex,
                request.wLength, CVNUsbStatusText(status).c_str(), moved,
                data.left(64).toHex(' ').constData());
    }
    return status;
}

CVNUsbStatus sendInterfaceRequest(IUSBDevice* device, Direction direction, uint8_t interfaceNumber,
                                  uint8_t request, uint16_t value, void* data, uint16_t length,
                                  uint32_t timeoutMs, uint32_t* transferred)
{
    UsbControlRequest r =
        makeControlRequest(RequestType::Class, direction, RequestRecipient::Interface, request);
    r.wValue = value;
    r.wIndex = interfaceNumber;
    r.wLength = length;
    r.data = data;
    r.timeout = timeoutMs;
    r.timeout2 = timeoutMs;
    return sendControlRequest(device, r, transferred);
}

} // namespace WebViewUsb
