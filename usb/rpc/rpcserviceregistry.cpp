#include "usb/rpc/rpcserviceregistry.h"

#include "usb/rpc/rpcdevice.h"
#include "usb/rpc/rpcexception.h"

#include <vector>

namespace VornOSRPC {

namespace {

// Closed without the lock: a close may take as long as the unit's reply.
void closeEach(const std::multimap<RpcServiceRegistry::Key, std::shared_ptr<RpcDevice>>& services)
{
    for (const auto& entry : services) {
        try {
            entry.second->closeService(entry.first.first);
        } catch (const std::exception&) {
            // A unit that cannot be told keeps its service open; nothing more to do here.
        }
    }
}

} // namespace

RpcServiceRegistry::~RpcServiceRegistry()
{
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    std::multimap<Key, std::shared_ptr<RpcDevice>> services;
    services.swap(m_services);
    lock.unlock();
    closeEach(services);
}

void RpcServiceRegistry::insert(uint32_t handle, std::shared_ptr<RpcDevice> device)
{
    if (!device)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    RpcDevice* key = device.get();
    m_services.emplace(Key(handle, key), std::move(device));
}

void RpcServiceRegistry::remove(uint32_t handle, RpcDevice* device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services.erase(Key(handle, device));
}

size_t RpcServiceRegistry::count(uint32_t handle, RpcDevice* device) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_services.count(Key(handle, device));
}

void RpcServiceRegistry::closeAll()
{
    std::multimap<Key, std::shared_ptr<RpcDevice>> services;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        services.swap(m_services);
    }
    closeEach(services);
}

RpcServiceRegistry& rpcServiceRegistry()
{
    static RpcServiceRegistry registry;
    return registry;
}

void rpcServiceRegistryInsert(RpcServiceRegistry& registry, uint32_t handle,
                              std::shared_ptr<RpcDevice> device)
{
    registry.insert(handle, std::move(device));
}

void rpcServiceRegistryRemove(RpcServiceRegistry& registry, uint32_t handle, RpcDevice* device)
{
    registry.remove(handle, device);
}

void rpcServiceRegistryInsert(uint32_t handle, std::shared_ptr<RpcDevice> device)
{
    rpcServiceRegistry().insert(handle, std::move(device));
}

void rpcServiceRegistryRemove(uint32_t handle, RpcDevice* device)
{
    rpcServiceRegistry().remove(handle, device);
}

} // namespace VornOSRPC
