#include "plugins/webview/transport/usbqueryinterface.h"

#include "plugins/webview/transport/usbcontrolrequestbuilder.h"
#include "plugins/webview/transport/usbinterfacefinder.h"
#include "plugins/webview/transport/usbqueryreply.h"

#include <stdexcept>

using namespace CVN::USB;
using WebViewUsb::Direction;

UsbQueryInterface::UsbQueryInterface(IUSBDevice* device)
    : m_device(WebViewUsb::UsbRef<IUSBDevice>::share(device))
{
    m_interface =
        WebViewUsb::findInterface(device, kInterfaceClass, kInterfaceSubclass, kInterfaceProtocol);
    if (m_interface->interfaceNumber(&m_interfaceNumber) != kCVNUsbSuccess)
        throw std::runtime_error("Couldn't get interface number");
    const uint8_t* descriptor = m_interface->findClassDescriptor(UsbQueryReply::kDescriptorType, 0);
    if (!UsbQueryReply::capabilities(descriptor, &m_capabilities))
        throw std::runtime_error("Unable to find associated functional descriptor");
}

UsbQueryInterface::~UsbQueryInterface()
{
    m_interface.reset();
    m_device.reset();
}

void UsbQueryInterface::get(Request request, uint16_t value, void* data, uint16_t length,
                            uint32_t* transferred)
{
    if (WebViewUsb::sendInterfaceRequest(m_device.get(), Direction::In, m_interfaceNumber, request,
                                         value, data, length, kTimeoutMs,
                                         transferred) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to send get request " + std::to_string(request));
}

void UsbQueryInterface::set(Request request, uint16_t value, const void* data, uint16_t length)
{
    if (WebViewUsb::sendInterfaceRequest(m_device.get(), Direction::Out, m_interfaceNumber, request,
                                         value, const_cast<void*>(data), length,
                                         kTimeoutMs) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to send set request " + std::to_string(request));
}

uint8_t UsbQueryInterface::getStatus()
{
    uint8_t status = 0;
    uint32_t transferred = 0;
    get(kGetStatus, 0, &status, 1, &transferred);
    if (transferred < 1)
        throw std::runtime_error("Failed to send get request " + std::to_string(kGetStatus));
    return status;
}

std::string UsbQueryInterface::query(const std::string& key)
{
    if (key.size() > 0xFFFF)
        throw std::runtime_error("Failed to send set request " + std::to_string(kSetKey));
    uint8_t reply[2] = {};
    uint32_t transferred = 0;
    get(kNewHandle, 0, reply, sizeof reply, &transferred);
    uint16_t handle = 0;
    if (!UsbQueryReply::handle(reply, transferred, &handle))
        throw std::runtime_error("Failed to send get request " + std::to_string(kNewHandle));
    set(kSetKey, handle, key.data(), uint16_t(key.size()));
    // One byte more than is asked for, so the text always ends.
    uint8_t value[kMaxValueLength + 1] = {};
    get(kGetValue, handle, value, kMaxValueLength, &transferred);
    return UsbQueryReply::value(value, transferred);
}
