#pragma once

#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/usbcontrolrequest.h"

#include <cstdint>

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

namespace WebViewUsb {

enum class RequestType : uint8_t { Standard = 0, Class = 1, Vendor = 2 };
enum class Direction : uint8_t { Out = 0, In = 1 };
enum class RequestRecipient : uint8_t { Device = 0, Interface = 1, Endpoint = 2 };

constexpr uint32_t kDefaultControlTimeoutMs = 1000;

// A control-transfer record for one request: bmRequestType from its parts, everything else
// zero, both time-outs kDefaultControlTimeoutMs.
CVN::USB::UsbControlRequest makeControlRequest(RequestType type, Direction direction,
                                               RequestRecipient recipient, uint8_t request);

// Sends a filled request; every control transfer of the transports passes here (its raw
// traffic is logged under "pellworth.webview.usb" at debug level). On success *transferred
// (when given) gets the bytes the layer reports moved, never more than wLength.
CVN::USB::CVNUsbStatus sendControlRequest(CVN::USB::IUSBDevice* device,
                                          CVN::USB::UsbControlRequest& request,
                                          uint32_t* transferred = nullptr);

// A class request to one interface (wIndex = its number), both time-outs timeoutMs.
CVN::USB::CVNUsbStatus sendInterfaceRequest(CVN::USB::IUSBDevice* device, Direction direction,
                                            uint8_t interfaceNumber, uint8_t request,
                                            uint16_t value, void* data, uint16_t length,
                                            uint32_t timeoutMs, uint32_t* transferred = nullptr);

} // namespace WebViewUsb
