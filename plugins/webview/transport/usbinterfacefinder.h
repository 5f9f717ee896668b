#pragma once

#include "plugins/webview/transport/usbref.h"
#include "usb/driver/findinterfacerequest.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"

#include <vector>

namespace WebViewUsb {

// Every interface of the device that matches, each with its own reference. Throws
// std::runtime_error "Unable to create iterator" when the layer cannot list them.
std::vector<UsbRef<CVN::USB::IUSBInterface>>
findInterfaces(CVN::USB::IUSBDevice* device, const CVN::USB::FindInterfaceRequest& match);

// The first matching interface; "Unable to find interface" when there is none.
UsbRef<CVN::USB::IUSBInterface>
findInterface(CVN::USB::IUSBDevice* device, uint16_t interfaceClass, uint16_t subclass,
              uint16_t protocol = CVN::USB::FindInterfaceRequest::kAny);

} // namespace WebViewUsb
