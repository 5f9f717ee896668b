#include "usbrpcpotentialdevice.h"

#include "plugins/webview/transport/usbinterfacefinder.h"
#include "plugins/webview/transport/usbstreaming2hostinterface.h"
#include "usb/rpc/streamingrpcdevice.h"

#include <QDebug>

#include <stdexcept>
#include <vector>

namespace {

const char kService[] = "SystemProperties";

} // namespace

UsbRpcPotentialDevice::UsbRpcPotentialDevice(const std::shared_ptr<ConnectionManager>& manager,
                                             CVN::USB::IUSBDevice* device)
    : UsbPotentialDevice(manager, device)
    , m_service(VornOSRPC::RpcDevice::kInvalidHandle)
{
    CVN::USB::FindInterfaceRequest match;
    match.bInterfaceClass = USBStreaming2HostInterface::kInterfaceClass;
    match.bInterfaceSubClass = USBStreaming2HostInterface::kInterfaceSubclass;
    if (WebViewUsb::findInterfaces(device, match).empty())
        throw std::runtime_error("Device does not have RPC interface");
    m_stream = std::make_shared<USBStreaming2HostInterface>(device);
    m_rpc = std::make_shared<VornOSRPC::StreamingRpcDevice>(m_stream);
}

UsbRpcPotentialDevice::~UsbRpcPotentialDevice()
{
    if (m_service == VornOSRPC::RpcDevice::kInvalidHandle)
        return;
    try {
        m_rpc->closeService(m_service);
    } catch (const std::exception& error) {
        qDebug() << "USB RPC potential device: closing" << kService << error.what();
    }
}

bool UsbRpcPotentialDevice::readProperty(const std::string& key, QString* value)
{
    try {
        if (m_service == VornOSRPC::RpcDevice::kInvalidHandle) {
            m_service = m_rpc->openService(kService, kPropertyTimeoutMs);
            if (m_service == VornOSRPC::RpcDevice::kInvalidHandle)
                throw std::runtime_error(std::string("Could not open service: ") + kService);
        }
        std::vector<uint8_t> input(key.begin(), key.end());
        std::vector<uint8_t> output(kMaxValueLength, 0);
        uint32_t found = 0;
        VornOSRPC::RpcBuffer buffers[2];
        buffers[0].input = true;
        buffers[0].data = input.data();
        buffers[0].size = input.size();
        buffers[1].output = true;
        buffers[1].data = output.data();
        buffers[1].size = output.size();
        const int32_t status =
            m_rpc->call(m_service, kGetProperty, nullptr, 0, &found, sizeof found, buffers, 2);
        if (status != 0)
            throw std::runtime_error("SystemProperties call failed: " + std::to_string(status));
        if (found == 0)
            return false;
        size_t length = 0;
        while (length < output.size() && output[length] != 0)
            ++length;
        *value = QString::fromUtf8(reinterpret_cast<const char*>(output.data()), int(length));
        return true;
    } catch (const std::exception& error) {
        qDebug() << "USB RPC potential device:" << key.c_str() << error.what();
        return false;
    }
}
