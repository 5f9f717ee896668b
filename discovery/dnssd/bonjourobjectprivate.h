#pragma once

#include "discovery/dnssd/bonjourcore.h"
#include "discovery/dnssd/bonjourobject.h"
#include "discovery/dnssd/discoverylog.h"
#include "discovery/dnssd/dnssd.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QDebug>

#include <avahi-common/address.h>
#include <avahi-core/lookup.h>

// Between DNS-SD's conventions and avahi's. DNS-SD hands names up with the trailing dot and
// takes them either way; avahi wants them without. Interface 0 means any.
namespace BonjourAvahi {

inline std::string withTrailingDot(const char* name)
{
    std::string text(name ? name : "");
    if (text.empty() || text.back() != '.')
        text += '.';
    return text;
}

inline std::string withoutTrailingDot(const std::string& name)
{
    if (!name.empty() && name.back() == '.')
        return name.substr(0, name.size() - 1);
    return name;
}

inline AvahiIfIndex avahiInterface(uint32_t interfaceIndex)
{
    return interfaceIndex == 0 ? AVAHI_IF_UNSPEC : AvahiIfIndex(interfaceIndex);
}

inline uint32_t dnssdInterface(AvahiIfIndex interface)
{
    return interface < 0 ? 0 : uint32_t(interface);
}

// The DNS-SD code of the failure avahi has just reported; never 0.
inline int lastErrorCode()
{
    const int code = BonjourCore::errorCode(avahi_server_errno(BonjourCore::server()));
    return code != 0 ? code : int(kDNSServiceErr_Unknown);
}

// Whether a record browser's event is a new record of the type asked for, or a failure.
// Withdrawals, the cache markers and other types carry nothing for us.
inline bool isAnswerOrFailure(AvahiBrowserEvent event, const AvahiRecord* record, uint16_t type)
{
    if (event == AVAHI_BROWSER_FAILURE)
        return true;
    return event == AVAHI_BROWSER_NEW && record && record->key && record->key->type == type;
}

// Asks by multicast, over IPv4, for the records of one name and type.
inline AvahiSRecordBrowser* newRecordBrowser(AvahiServer* server, uint32_t interfaceIndex,
                                             const char* name, uint16_t type,
                                             AvahiSRecordBrowserCallback callback, void* context)
{
    AvahiKey* key = avahi_key_new(name, AVAHI_DNS_CLASS_IN, type);
    if (!key)
        return nullptr;
    AvahiSRecordBrowser* browser =
        avahi_s_record_browser_new(server, avahiInterface(interfaceIndex), AVAHI_PROTO_INET, key,
                                   AVAHI_LOOKUP_USE_MULTICAST, callback, context);
    avahi_key_unref(key);
    return browser;
}

} // namespace BonjourAvahi

// What every DNS-SD wrapper holds: its avahi object, its core user and its id in the registry
// through which answers find it.
class BonjourObjectPrivate
{
public:
    BonjourObjectPrivate(BonjourObject* owner, std::mutex* replyMutex);
    virtual ~BonjourObjectPrivate();

    BonjourObjectPrivate(const BonjourObjectPrivate&) = delete;
    BonjourObjectPrivate& operator=(const BonjourObjectPrivate&) = delete;

    // Whether a start may go ahead: never started, and the core runs.
    bool canStart(BonjourCore::Operation operation) const
    {
        return !m_handle && BonjourCore::mayStart(operation);
    }

    // Creates the avahi object with create(server, context) under the core lock. False when
    // already started once, when the core is down or when avahi refuses; a refused object stays
    // spent.
    template<typename Object, typename Create>
    bool start(BonjourCore::Operation operation, void (*freeObject)(Object*), Create create)
    {
        if (!canStart(operation))
            return false;
        m_handle = std::make_unique<Handle>();
        BonjourCore::Lock lock;
        Object* object = create(BonjourCore::server(), contextOf(m_id));
        if (!object)
            return false;
        m_handle->release = [object, freeObject] { freeObject(object); };
        return true;
    }

    // Unregisters, waiting for an answer being delivered to this object, then frees the avahi
    // object. No answer reaches the object afterwards.
    void stop();

    // Runs deliver(object) for the object an answer's context names, if it is still registered
    // and of class T (whose objects, and only those, share replyMutex); holds the reply mutex
    // throughout, the registry mutex only for the look-up.
    template<typename T, typename Deliver>
    static void deliver(std::mutex& replyMutex, void* context, Deliver deliver)
    {
        BonjourCore::CallbackScope scope;
        std::lock_guard<std::mutex> reply(replyMutex);
        BonjourObjectPrivate* found = find(idOf(context), &replyMutex);
        if (!found)
            return;
        T* target = static_cast<T*>(found);
        // An exception must not unwind through avahi's C frames.
        try {
            deliver(*target);
        } catch (const std::exception& e) {
            qCWarning(lcDiscovery) << "BonjourObject: a slot threw:" << e.what();
        } catch (...) {
            qCWarning(lcDiscovery) << "BonjourObject: a slot threw";
        }
    }

    BonjourObject* const owner;

private:
    struct Handle
    {
        ~Handle();
        // Frees the avahi object; empty while nothing is held.
        std::function<void()> release;
    };

    static void* contextOf(uint64_t id) { return reinterpret_cast<void*>(uintptr_t(id)); }
    static uint64_t idOf(void* context) { return uint64_t(reinterpret_cast<uintptr_t>(context)); }
    static BonjourObjectPrivate* find(uint64_t id, const std::mutex* replyMutex);

    std::unique_ptr<Handle> m_handle;
    BonjourCore::User m_coreUser;
    std::mutex* const m_replyMutex;
    uint64_t m_id = 0;
};
