#include "plugins/webview/transport/tunnelregistry.h"

#include "plugins/webview/transport/cvnusbdevice.h"
#include "plugins/webview/transport/usbtunnel.h"

#include <QMetaObject>

#include <stdexcept>

TunnelRegistry& TunnelRegistry::instance()
{
    static TunnelRegistry registry;
    return registry;
}

TunnelRegistry::~TunnelRegistry()
{
    shutdown();
}

void TunnelRegistry::shutdown()
{
    std::map<uintptr_t, EngineEntry> engines;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shuttingDown = true;
        engines.swap(m_engines);
    }
    m_reap.notify_all();
    if (m_reaper.joinable())
        m_reaper.join();
    // Left running, the threads would outlive what they use at exit. A shut-down engine
    // answers their waits and refuses anything more, so they end at once.
    for (auto& entry : engines)
        entry.second.engine->shutdown();
    std::vector<Adopted> adopted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        adopted.swap(m_adopted);
    }
    for (Adopted& a : adopted)
        for (std::thread& t : a.threads)
            t.join();
}

void TunnelRegistry::adopt(std::vector<std::thread> threads, Finished finished)
{
    std::vector<Adopted> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_adopted.begin(); it != m_adopted.end();) {
            if (it->finished(std::chrono::milliseconds(0))) {
                done.push_back(std::move(*it));
                it = m_adopted.erase(it);
            } else {
                ++it;
            }
        }
        m_adopted.push_back(Adopted{std::move(threads), std::move(finished)});
    }
    for (Adopted& a : done)
        for (std::thread& t : a.threads)
            t.join();
}

std::shared_ptr<TunnelRegistry::Engine> TunnelRegistry::acquire(CVN::USB::IUSBDevice* device,
                                                                USBTunnel* tunnel)
{
    const auto key = reinterpret_cast<uintptr_t>(device);
    std::lock_guard<std::mutex> creating(m_createMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shuttingDown)
            throw std::runtime_error("Failed to get USB Tunnel interface.");
        const auto it = m_engines.find(key);
        if (it != m_engines.end()) {
            m_tunnels.emplace(it->second.generation, tunnel);
            return it->second.engine;
        }
    }
    auto adapter = std::make_unique<CVN::AbstractUSB::CVNUSB::CVNUSBDevice>(device);
    if (!Engine::isTunnelDevice(*adapter))
        throw std::runtime_error("Device does not have the pipe interface.");
    const uint64_t generation = ++m_lastGeneration;
    std::shared_ptr<Engine> engine = Engine::create(
        std::move(adapter), [this, generation](uint16_t id) { connectionClosed(generation, id); },
        [this, generation, key] { tunnelClosed(generation, key); }, m_options);
    if (!engine)
        throw std::runtime_error("Failed to get USB Tunnel interface.");
    std::lock_guard<std::mutex> lock(m_mutex);
    // A tunnel that closed while it was being made has already told its close; its users
    // find it closed, and the next connection makes another.
    if (!engine->isClosed())
        m_engines[key] = EngineEntry{engine, generation};
    m_tunnels.emplace(generation, tunnel);
    return engine;
}

void TunnelRegistry::forget(USBTunnel* tunnel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_tunnels.begin(); it != m_tunnels.end();) {
        if (it->second == tunnel)
            it = m_tunnels.erase(it);
        else
            ++it;
    }
}

void TunnelRegistry::setEngineOptions(const Engine::Options& options)
{
    std::lock_guard<std::mutex> creating(m_createMutex);
    m_options = options;
}

// On the engine's work thread. A USBTunnel is taken out of the table, under the lock, before
// it goes: every one found here is alive, and a queued call dies with its receiver.
void TunnelRegistry::connectionClosed(uint64_t generation, uint16_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shuttingDown)
        return;
    const auto range = m_tunnels.equal_range(generation);
    for (auto it = range.first; it != range.second; ++it) {
        USBTunnel* tunnel = it->second;
        if (tunnel->connectionId() == id) {
            QMetaObject::invokeMethod(tunnel, &USBTunnel::onConnectionClosed, Qt::QueuedConnection);
            return;
        }
    }
}

// On the engine's work thread.
void TunnelRegistry::tunnelClosed(uint64_t generation, uintptr_t key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shuttingDown)
        return;
    const auto it = m_engines.find(key);
    if (it != m_engines.end() && it->second.generation == generation) {
        m_closedEngines.push_back(std::move(it->second.engine));
        m_engines.erase(it);
        if (!m_reaper.joinable())
            m_reaper = std::thread([this] { reapLoop(); });
        m_reap.notify_all();
    }
    const auto range = m_tunnels.equal_range(generation);
    for (auto user = range.first; user != range.second; ++user)
        QMetaObject::invokeMethod(user->second, &USBTunnel::onTunnelClosed, Qt::QueuedConnection);
}

void TunnelRegistry::reapLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_reap.wait(lock, [this] { return m_shuttingDown || !m_closedEngines.empty(); });
        std::vector<std::shared_ptr<Engine>> closed;
        closed.swap(m_closedEngines);
        lock.unlock();
        // The last reference may go here, which stops the engine's threads.
        closed.clear();
        lock.lock();
        if (m_shuttingDown && m_closedEngines.empty())
            return;
    }
}
