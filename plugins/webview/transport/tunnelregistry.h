#pragma once

// The engine's header needs the device type whole.
#include "plugins/webview/transport/abstractusbdevice.h"
#include "plugins/webview/transport/usbtunnelimpl.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class USBTunnel;

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

// The process's tunnel engines, one per USB device object: made on a device's first
// connection, dropped when its tunnel closes, so the next connection makes a fresh one. It
// passes the engine's reports on to the USBTunnel objects using it, queued on their threads.
//
// The engine's reports arrive on its work thread, which must never destroy the engine: the
// registry's own reference to a closed engine is dropped on a thread of the registry's.
class TunnelRegistry
{
public:
    using Engine = CVN::USBTunnel::USBTunnelImpl;

    static TunnelRegistry& instance();
    ~TunnelRegistry();
    TunnelRegistry(const TunnelRegistry&) = delete;
    TunnelRegistry& operator=(const TunnelRegistry&) = delete;

    // The device's engine, made when it has none, with tunnel registered as one of its
    // users. Throws std::runtime_error when the device has no tunnel or it cannot be claimed.
    std::shared_ptr<Engine> acquire(CVN::USB::IUSBDevice* device, USBTunnel* tunnel);
    // Called by a USBTunnel as it goes.
    void forget(USBTunnel* tunnel);
    // For engines made from now on; tests shorten the engine's limits.
    void setEngineOptions(const Engine::Options& options);
    // Takes the threads of a connection that a stop had to leave to a silent device. They
    // are joined once finished tells they are done, at the latest by shutdown.
    using Finished = std::function<bool(std::chrono::milliseconds limit)>;
    void adopt(std::vector<std::thread> threads, Finished finished);

    // Run as the registry goes (at exit): shuts every engine down, which releases the
    // threads left to silent devices, and joins those; no engine is made afterwards.
    void shutdown();

private:
    struct Adopted
    {
        std::vector<std::thread> threads;
        Finished finished;
    };
    struct EngineEntry
    {
        std::shared_ptr<Engine> engine;
        uint64_t generation = 0;
    };

    TunnelRegistry() = default;
    void connectionClosed(uint64_t generation, uint16_t id);
    void tunnelClosed(uint64_t generation, uintptr_t key);
    void reapLoop();

    // Serialises the making of engines, which is not done under m_mutex: an engine may
    // report while it is being made.
    std::mutex m_createMutex;
    Engine::Options m_options;
    uint64_t m_lastGeneration = 0;

    std::mutex m_mutex;
    bool m_shuttingDown = false;
    std::map<uintptr_t, EngineEntry> m_engines;
    // Users by their engine's generation.
    std::multimap<uint64_t, USBTunnel*> m_tunnels;
    std::vector<std::shared_ptr<Engine>> m_closedEngines;
    std::vector<Adopted> m_adopted;
    std::condition_variable m_reap;
    std::thread m_reaper;
};
