#include "discovery/dnssd/bonjourbrowser.h"

#include "discovery/dnssd/bonjourobjectprivate.h"

#include <avahi-core/lookup.h>

namespace {

std::mutex browserReplyMutex;

class BonjourBrowserPrivate : public BonjourObjectPrivate
{
public:
    explicit BonjourBrowserPrivate(BonjourObject* owner)
        : BonjourObjectPrivate(owner, &browserReplyMutex)
    {
    }
};

void onBrowseReply(AvahiSServiceBrowser*, AvahiIfIndex interface, AvahiProtocol,
                   AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                   AvahiLookupResultFlags, void* context)
{
    // Failures and the cache markers carry no instance.
    if ((event != AVAHI_BROWSER_NEW && event != AVAHI_BROWSER_REMOVE) || !name || !type)
        return;
    BonjourObjectPrivate::deliver<BonjourBrowserPrivate>(
        browserReplyMutex, context, [&](BonjourBrowserPrivate& d) {
            BonjourDevice device;
            device.serviceName = name;
            device.serviceType = BonjourAvahi::withTrailingDot(type);
            device.domain = BonjourAvahi::withTrailingDot(domain);
            device.interfaceIndex = BonjourAvahi::dnssdInterface(interface);
            auto* browser = static_cast<BonjourBrowser*>(d.owner);
            if (event == AVAHI_BROWSER_NEW)
                browser->added.emit(device);
            else
                browser->removed.emit(device);
        });
}

} // namespace

BonjourBrowser::BonjourBrowser()
    : BonjourObject(new BonjourBrowserPrivate(this))
{
}

BonjourBrowser::~BonjourBrowser()
{
    d->stop();
}

bool BonjourBrowser::browse(const std::string& serviceType)
{
    const std::string type = BonjourAvahi::withoutTrailingDot(serviceType);
    return d->start<AvahiSServiceBrowser>(
        BonjourCore::Browse, avahi_s_service_browser_free, [&](AvahiServer* server, void* context) {
            return avahi_s_service_browser_new(server, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                               type.c_str(), nullptr, AvahiLookupFlags(0),
                                               onBrowseReply, context);
        });
}
