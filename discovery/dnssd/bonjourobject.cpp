#include "discovery/dnssd/bonjourobject.h"

#include "discovery/dnssd/bonjourobjectprivate.h"

#include <map>

namespace {

std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct Entry
{
    BonjourObjectPrivate* object;
    // Tells the classes apart: each has its own.
    const std::mutex* replyMutex;
};

std::map<uint64_t, Entry>& registry()
{
    static std::map<uint64_t, Entry> map;
    return map;
}

uint32_t idCounter = 0;

} // namespace

BonjourObject::BonjourObject(BonjourObjectPrivate* d)
    : d(d)
{
}

BonjourObject::~BonjourObject()
{
    delete d;
}

BonjourObjectPrivate::BonjourObjectPrivate(BonjourObject* owner, std::mutex* replyMutex)
    : owner(owner)
    , m_replyMutex(replyMutex)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    do {
        m_id = ++idCounter;
    } while (registry().count(m_id) != 0);
    registry().emplace(m_id, Entry{this, replyMutex});
}

BonjourObjectPrivate::~BonjourObjectPrivate()
{
    stop();
}

void BonjourObjectPrivate::stop()
{
    {
        std::lock_guard<std::mutex> reply(*m_replyMutex);
        std::lock_guard<std::mutex> lock(registryMutex());
        // Also when never started: the entry must not outlive the object.
        const auto it = registry().find(m_id);
        if (it != registry().end() && it->second.object == this)
            registry().erase(it);
    }
    // Freed only now: the core thread may be waiting for the reply mutex under avahi's lock.
    if (m_handle)
        m_handle.reset(new Handle);
}

BonjourObjectPrivate* BonjourObjectPrivate::find(uint64_t id, const std::mutex* replyMutex)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    const auto it = registry().find(id);
    if (it == registry().end() || it->second.replyMutex != replyMutex)
        return nullptr;
    return it->second.object;
}

BonjourObjectPrivate::Handle::~Handle()
{
    if (!release)
        return;
    BonjourCore::Lock lock;
    release();
}
