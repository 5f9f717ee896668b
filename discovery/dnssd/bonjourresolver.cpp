#include "discovery/dnssd/bonjourresolver.h"

#include "discovery/dnssd/bonjourobjectprivate.h"

#include <avahi-core/lookup.h>

namespace {

std::mutex resolverReplyMutex;

class BonjourResolverPrivate : public BonjourObjectPrivate
{
public:
    explicit BonjourResolverPrivate(BonjourObject* owner)
        : BonjourObjectPrivate(owner, &resolverReplyMutex)
    {
    }

    BonjourDevice device;
};

void onResolveReply(AvahiSServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                    const char*, const char*, const char*, const char* hostName,
                    const AvahiAddress*, uint16_t port, AvahiStringList*, AvahiLookupResultFlags,
                    void* context)
{
    // Read before any lock: the server's last error belongs to this callback.
    const int error = event == AVAHI_RESOLVER_FOUND ? 0 : BonjourAvahi::lastErrorCode();
    BonjourObjectPrivate::deliver<BonjourResolverPrivate>(
        resolverReplyMutex, context, [&](BonjourResolverPrivate& d) {
            auto* resolver = static_cast<BonjourResolver*>(d.owner);
            if (event == AVAHI_RESOLVER_FOUND && hostName)
                resolver->resolved.emit(d.device, BonjourAvahi::withTrailingDot(hostName), port);
            else
                resolver->error.emit(d.device, error ? error : int(kDNSServiceErr_Unknown));
        });
}

} // namespace

BonjourResolver::BonjourResolver()
    : BonjourObject(new BonjourResolverPrivate(this))
{
}

BonjourResolver::~BonjourResolver()
{
    d->stop();
}

bool BonjourResolver::resolve(const BonjourDevice& device)
{
    auto* p = static_cast<BonjourResolverPrivate*>(d);
    if (!p->canStart(BonjourCore::Resolve))
        return false;
    p->device = device;
    const std::string type = BonjourAvahi::withoutTrailingDot(device.serviceType);
    const std::string domain = BonjourAvahi::withoutTrailingDot(device.domain);
    return p->start<AvahiSServiceResolver>(
        BonjourCore::Resolve, avahi_s_service_resolver_free,
        [&](AvahiServer* server, void* context) {
            return avahi_s_service_resolver_new(
                server, BonjourAvahi::avahiInterface(device.interfaceIndex), AVAHI_PROTO_INET,
                device.serviceName.c_str(), type.c_str(), domain.empty() ? nullptr : domain.c_str(),
                AVAHI_PROTO_INET, AvahiLookupFlags(AVAHI_LOOKUP_NO_TXT | AVAHI_LOOKUP_NO_ADDRESS),
                onResolveReply, context);
        });
}
