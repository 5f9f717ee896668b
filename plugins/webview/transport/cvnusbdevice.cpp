#include "plugins/webview/transport/cvnusbdevice.h"

#include "plugins/webview/transport/cvnusbinterface.h"
#include "plugins/webview/transport/usbinterfacefinder.h"
#include "usb/driver/iusbdevice.h"

#include <stdexcept>

using namespace CVN::USB;

namespace CVN {
namespace AbstractUSB {
namespace CVNUSB {

CVNUSBDevice::CVNUSBDevice(IUSBDevice* device)
    : m_device(device)
{
    if (!m_device)
        throw std::invalid_argument("No USB device");
    m_device->AddRef();
}

CVNUSBDevice::~CVNUSBDevice()
{
    m_device->Release();
}

uint16_t CVNUSBDevice::vendorId()
{
    uint16_t id = 0;
    if (m_device->vendorId(&id) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to get device vendor");
    return id;
}

std::vector<std::unique_ptr<AbstractUSBInterface>> CVNUSBDevice::find(uint16_t interfaceClass,
                                                                      uint16_t subclass)
{
    FindInterfaceRequest match;
    match.bInterfaceClass = interfaceClass;
    match.bInterfaceSubClass = subclass;
    auto found = WebViewUsb::findInterfaces(m_device, match);
    std::vector<std::unique_ptr<AbstractUSBInterface>> wrapped;
    wrapped.reserve(found.size());
    for (auto& interface : found)
        wrapped.push_back(std::make_unique<CVNUSBInterface>(interface.release(), m_device));
    return wrapped;
}

std::vector<std::unique_ptr<AbstractUSBInterface>> CVNUSBDevice::interfaces(uint8_t interfaceClass,
                                                                            uint8_t subclass)
{
    return find(interfaceClass, subclass);
}

std::vector<std::unique_ptr<AbstractUSBInterface>> CVNUSBDevice::interfaces()
{
    return find(FindInterfaceRequest::kAny, FindInterfaceRequest::kAny);
}

std::unique_ptr<AbstractUSBInterface> CVNUSBDevice::openInterface(uint8_t interfaceClass,
                                                                  uint8_t subclass)
{
    auto found = find(interfaceClass, subclass);
    if (found.empty())
        return nullptr;
    return std::move(found.front());
}

} // namespace CVNUSB
} // namespace AbstractUSB
} // namespace CVN
