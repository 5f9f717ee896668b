#include "plugins/recorder/rpcserviceclient.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "usb/rpc/rpcdevice.h"
#include "usb/rpc/rpcexception.h"
#include "usb/rpc/rpcserviceregistry.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace CVN {
namespace DiskRecorder {

RpcServiceClient::RpcServiceClient(std::string name)
    : m_name(std::move(name))
{
}

RpcServiceClient::~RpcServiceClient()
{
    close();
}

void RpcServiceClient::close()
{
    if (m_device && m_handle != kNoHandle) {
        VornOSRPC::rpcServiceRegistryRemove(m_handle, m_device.get());
        m_device->closeService(m_handle);
    }
    m_handle = kNoHandle;
    m_device.reset();
}

void RpcServiceClient::open(std::shared_ptr<VornOSRPC::RpcDevice> device, std::uint32_t timeoutMs)
{
    if (device && device == m_device && m_handle != kNoHandle)
        return;
    close();
    if (!device)
        throw std::runtime_error("Could not open service: " + m_name);
    m_device = std::move(device);
    try {
        m_handle = m_device->openService(m_name, timeoutMs);
    } catch (const VornOSRPC::RpcRequestTimedOutException&) {
        // The unit kept refusing until the time was up: it gives no handle.
        m_handle = kNoHandle;
    }
    // A refused open holds nothing to close, so it is not registered.
    if (m_handle == kNoHandle)
        throw std::runtime_error("Could not open service: " + m_name);
    VornOSRPC::rpcServiceRegistryInsert(m_handle, m_device);
}

void RpcServiceClient::call(std::uint32_t method, const void* input, std::uint32_t inputLength,
                            void* output, std::uint32_t outputLength, VornOSRPC::RpcBuffer* buffers,
                            std::uint32_t bufferCount)
{
    if (!m_device || m_handle == kNoHandle)
        throw std::runtime_error("Service not open: " + m_name);
    const std::int32_t status = m_device->call(m_handle, method, input, inputLength, output,
                                               outputLength, buffers, bufferCount);
    if (status != 0)
        throw std::system_error(status, std::system_category(),
                                m_name + " method " + std::to_string(method));
}

std::uint32_t RpcServiceClient::callForU32(std::uint32_t method, VornOSRPC::RpcBuffer* buffers,
                                           std::uint32_t bufferCount)
{
    std::uint8_t out[4] = {};
    call(method, nullptr, 0, out, sizeof out, buffers, bufferCount);
    std::uint32_t value = 0;
    Platform::ByteReader(out, sizeof out).u32(0, &value);
    return value;
}

std::uint8_t RpcServiceClient::callForU8(std::uint32_t method)
{
    std::uint8_t value = 0;
    call(method, nullptr, 0, &value, 1);
    return value;
}

void RpcServiceClient::callWithU32s(std::uint32_t method, std::uint32_t first, std::uint32_t second)
{
    std::uint8_t in[8] = {};
    Platform::ByteWriter w(in, sizeof in);
    w.u32(0, first);
    w.u32(4, second);
    call(method, in, sizeof in, nullptr, 0);
}

void RpcServiceClient::callWithU32U8(std::uint32_t method, std::uint32_t first, std::uint8_t second)
{
    std::uint8_t in[5] = {};
    Platform::ByteWriter w(in, sizeof in);
    w.u32(0, first);
    w.u8(4, second);
    call(method, in, sizeof in, nullptr, 0);
}

std::string RpcServiceClient::textOf(const std::uint8_t* data, std::size_t size)
{
    const std::uint8_t* end = std::find(data, data + size, std::uint8_t(0));
    return std::string(reinterpret_cast<const char*>(data), std::size_t(end - data));
}

VornOSRPC::RpcBuffer RpcServiceClient::inputText(const std::string& text)
{
    VornOSRPC::RpcBuffer buffer;
    buffer.input = true;
    buffer.data = reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data()));
    buffer.size = text.size();
    return buffer;
}

} // namespace DiskRecorder
} // namespace CVN
