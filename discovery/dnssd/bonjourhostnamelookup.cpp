#include "discovery/dnssd/bonjourhostnamelookup.h"

#include "discovery/dnssd/bonjourobjectprivate.h"

#include <avahi-core/lookup.h>

namespace {

std::mutex lookupReplyMutex;

class BonjourHostnameLookupPrivate : public BonjourObjectPrivate
{
public:
    explicit BonjourHostnameLookupPrivate(BonjourObject* owner)
        : BonjourObjectPrivate(owner, &lookupReplyMutex)
    {
    }

    std::string label;
    std::string hostName;
};

std::string dottedQuad(const AvahiIPv4Address& address)
{
    // Network byte order: the first byte in memory is the first number.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.address);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

void onAddressReply(AvahiSRecordBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                    AvahiRecord* record, AvahiLookupResultFlags, void* context)
{
    if (!BonjourAvahi::isAnswerOrFailure(event, record, AVAHI_DNS_TYPE_A))
        return;
    const int error = event == AVAHI_BROWSER_FAILURE ? BonjourAvahi::lastErrorCode() : 0;
    BonjourObjectPrivate::deliver<BonjourHostnameLookupPrivate>(
        lookupReplyMutex, context, [&](BonjourHostnameLookupPrivate& d) {
            auto* lookup = static_cast<BonjourHostnameLookup*>(d.owner);
            if (event == AVAHI_BROWSER_NEW)
                lookup->found.emit(d.label, dottedQuad(record->data.a.address));
            else
                lookup->error.emit(d.hostName, error);
        });
}

} // namespace

BonjourHostnameLookup::BonjourHostnameLookup()
    : BonjourObject(new BonjourHostnameLookupPrivate(this))
{
}

BonjourHostnameLookup::~BonjourHostnameLookup()
{
    d->stop();
}

bool BonjourHostnameLookup::lookup(const std::string& label, const std::string& hostName)
{
    auto* p = static_cast<BonjourHostnameLookupPrivate*>(d);
    if (!p->canStart(BonjourCore::Lookup))
        return false;
    p->label = label;
    p->hostName = hostName;
    const std::string name = BonjourAvahi::withoutTrailingDot(hostName);
    return p->start<AvahiSRecordBrowser>(
        BonjourCore::Lookup, avahi_s_record_browser_free, [&](AvahiServer* server, void* context) {
            return BonjourAvahi::newRecordBrowser(server, 0, name.c_str(), AVAHI_DNS_TYPE_A,
                                                  onAddressReply, context);
        });
}
