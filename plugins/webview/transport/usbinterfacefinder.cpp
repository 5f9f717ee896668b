#include "plugins/webview/transport/usbinterfacefinder.h"

#include "usb/driver/iusbinterfaceiterator.h"

#include <stdexcept>

using namespace CVN::USB;

namespace WebViewUsb {

std::vector<UsbRef<IUSBInterface>> findInterfaces(IUSBDevice* device,
                                                  const FindInterfaceRequest& match)
{
    IUSBInterfaceIterator* raw = nullptr;
    if (!device || device->createInterfaceIterator(&match, &raw) != kCVNUsbSuccess || !raw)
        throw std::runtime_error("Unable to create iterator");
    const auto iterator = UsbRef<IUSBInterfaceIterator>::adopt(raw);
    std::vector<UsbRef<IUSBInterface>> found;
    IUSBInterface* interface = nullptr;
    while (iterator->next(&interface)) {
        found.push_back(UsbRef<IUSBInterface>::adopt(interface));
        interface = nullptr;
    }
    return found;
}

UsbRef<IUSBInterface> findInterface(IUSBDevice* device, uint16_t interfaceClass, uint16_t subclass,
                                    uint16_t protocol)
{
    FindInterfaceRequest match;
    match.bInterfaceClass = interfaceClass;
    match.bInterfaceSubClass = subclass;
    match.bInterfaceProtocol = protocol;
    auto found = findInterfaces(device, match);
    if (found.empty())
        throw std::runtime_error("Unable to find interface");
    return std::move(found.front());
}

} // namespace WebViewUsb
