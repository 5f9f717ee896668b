#include "plugins/webview/transport/usbserialnumber.h"

#include "plugins/webview/transport/usbcontrolrequestbuilder.h"
#include "plugins/webview/transport/usbstringdescriptor.h"
#include "usb/driver/iusbdevice.h"

#include <stdexcept>

using namespace CVN::USB;

namespace {
constexpr uint8_t kGetDescriptor = 6;
constexpr uint16_t kStringDescriptor = 0x0300;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kReplySize = 256;
} // namespace

std::wstring serialNumber(IUSBDevice* device)
{
    uint8_t index = 0;
    if (!device || device->serialNumberStringIndex(&index) != kCVNUsbSuccess)
        throw std::runtime_error("Unable to get Serial Number");
    uint8_t reply[kReplySize] = {};
    UsbControlRequest request =
        WebViewUsb::makeControlRequest(WebViewUsb::RequestType::Standard, WebViewUsb::Direction::In,
                                       WebViewUsb::RequestRecipient::Device, kGetDescriptor);
    request.wValue = kStringDescriptor | index;
    request.wIndex = kEnglishUs;
    request.wLength = kReplySize;
    request.data = reply;
    uint32_t transferred = 0;
    if (WebViewUsb::sendControlRequest(device, request, &transferred) != kCVNUsbSuccess)
        throw std::runtime_error("Unable to get Serial Number");
    return UsbStringDescriptor::decode(reply, transferred);
}
