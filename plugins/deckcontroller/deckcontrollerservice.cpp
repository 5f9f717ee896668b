#include "plugins/deckcontroller/deckcontrollerservice.h"

#include "platform/bytereader.h"
#include "usb/rpc/rpcserviceregistry.h"

#include <stdexcept>
#include <system_error>

DeckControllerService::DeckControllerService(std::string name)
    : m_name(std::move(name))
{
}

DeckControllerService::~DeckControllerService()
{
    close();
}

void DeckControllerService::open(const std::shared_ptr<VornOSRPC::RpcDevice>& device,
                                 uint32_t timeoutMs)
{
    if (m_device != device)
        close();
    if (!device)
        throw std::runtime_error("Could not open service: " + m_name);
    const uint32_t handle = device->openService(m_name, timeoutMs);
    if (handle == VornOSRPC::RpcDevice::kInvalidHandle)
        throw std::runtime_error("Could not open service: " + m_name);
    m_device = device;
    m_handle = handle;
    VornOSRPC::rpcServiceRegistryInsert(m_handle, m_device);
}

void DeckControllerService::close()
{
    if (isOpen()) {
        VornOSRPC::rpcServiceRegistryRemove(m_handle, m_device.get());
        m_device->closeService(m_handle);
    }
    m_device.reset();
    m_handle = VornOSRPC::RpcDevice::kInvalidHandle;
}

void DeckControllerService::call(uint32_t method, void* output, uint32_t outputLength,
                                 VornOSRPC::RpcBuffer* buffers, uint32_t bufferCount)
{
    if (!isOpen())
        throw std::runtime_error("Service not open: " + m_name);
    const int32_t status =
        m_device->call(m_handle, method, nullptr, 0, output, outputLength, buffers, bufferCount);
    if (status != 0)
        throw std::system_error(status, std::system_category());
}

uint32_t DeckControllerService::callWord(uint32_t method)
{
    uint8_t bytes[4] = {};
    call(method, bytes, sizeof bytes);
    uint32_t value = 0;
    Platform::ByteReader(bytes, sizeof bytes).u32(0, &value);
    return value;
}
