#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace VornOSRPC {

class RpcDevice;

// The services open on RPC devices of this process, so that they are closed when the process
// ends. Clients insert a handle after opening it and remove it before closing it.
class RpcServiceRegistry
{
public:
    using Key = std::pair<uint32_t, RpcDevice*>;

    RpcServiceRegistry() = default;
    // Closes every service still registered, unless another thread holds the registry.
    ~RpcServiceRegistry();

    RpcServiceRegistry(const RpcServiceRegistry&) = delete;
    RpcServiceRegistry& operator=(const RpcServiceRegistry&) = delete;

    void insert(uint32_t handle, std::shared_ptr<RpcDevice> device);
    void remove(uint32_t handle, RpcDevice* device);
    size_t count(uint32_t handle, RpcDevice* device) const;
    // Closes and forgets every registered service, in key order.
    void closeAll();

private:
    mutable std::mutex m_mutex;
    std::multimap<Key, std::shared_ptr<RpcDevice>> m_services;
};

RpcServiceRegistry& rpcServiceRegistry();
void rpcServiceRegistryInsert(RpcServiceRegistry& registry, uint32_t handle,
                              std::shared_ptr<RpcDevice> device);
void rpcServiceRegistryRemove(RpcServiceRegistry& registry, uint32_t handle, RpcDevice* device);
// The same on the process's registry.
void rpcServiceRegistryInsert(uint32_t handle, std::shared_ptr<RpcDevice> device);
void rpcServiceRegistryRemove(uint32_t handle, RpcDevice* device);

} // namespace VornOSRPC
