#include "discovery/dnssd/bonjourquery.h"

#include "discovery/dnssd/bonjourobjectprivate.h"

#include <avahi-common/domain.h>
#include <avahi-common/strlst.h>
#include <avahi-core/lookup.h>

#include <algorithm>
#include <vector>

namespace {

std::mutex queryReplyMutex;

class BonjourQueryPrivate : public BonjourObjectPrivate
{
public:
    explicit BonjourQueryPrivate(BonjourObject* owner)
        : BonjourObjectPrivate(owner, &queryReplyMutex)
    {
    }

    BonjourDevice device;
};

// The TXT record's data rebuilt from the strings avahi parsed, each behind its length byte.
// avahi-core keeps no raw record data (avahi_rdata_serialize rebuilds it from the same list),
// so this is not always the record as it stood on the wire: avahi drops zero-length strings,
// and refuses a record whose last length runs past its end, so that record never arrives.
std::vector<unsigned char> wireForm(AvahiStringList* strings)
{
    size_t size = 1;
    for (AvahiStringList* s = strings; s; s = avahi_string_list_get_next(s))
        size += 1 + std::min<size_t>(avahi_string_list_get_size(s), 255);
    std::vector<unsigned char> data(std::min<size_t>(size, 0xffff));
    data.resize(avahi_string_list_serialize(strings, data.data(), data.size()));
    return data;
}

void onTxtReply(AvahiSRecordBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                AvahiRecord* record, AvahiLookupResultFlags, void* context)
{
    if (!BonjourAvahi::isAnswerOrFailure(event, record, AVAHI_DNS_TYPE_TXT))
        return;
    const int error = event == AVAHI_BROWSER_FAILURE ? BonjourAvahi::lastErrorCode() : 0;
    std::vector<unsigned char> data;
    if (event == AVAHI_BROWSER_NEW)
        data = wireForm(record->data.txt.string_list);
    BonjourObjectPrivate::deliver<BonjourQueryPrivate>(
        queryReplyMutex, context, [&](BonjourQueryPrivate& d) {
            auto* query = static_cast<BonjourQuery*>(d.owner);
            if (event == AVAHI_BROWSER_NEW)
                query->txt.emit(d.device, static_cast<unsigned short>(data.size()), data.data());
            else
                query->error.emit(d.device, error);
        });
}

} // namespace

BonjourQuery::BonjourQuery()
    : BonjourObject(new BonjourQueryPrivate(this))
{
}

BonjourQuery::~BonjourQuery()
{
    d->stop();
}

bool BonjourQuery::query(const BonjourDevice& device)
{
    auto* p = static_cast<BonjourQueryPrivate*>(d);
    if (!p->canStart(BonjourCore::Query))
        return false;
    p->device = device;
    const std::string type = BonjourAvahi::withoutTrailingDot(device.serviceType);
    const std::string domain = BonjourAvahi::withoutTrailingDot(device.domain);
    char fullName[AVAHI_DOMAIN_NAME_MAX];
    if (avahi_service_name_join(fullName, sizeof fullName, device.serviceName.c_str(), type.c_str(),
                                domain.empty() ? "local" : domain.c_str()) < 0)
        return false;
    return p->start<AvahiSRecordBrowser>(
        BonjourCore::Query, avahi_s_record_browser_free, [&](AvahiServer* server, void* context) {
            return BonjourAvahi::newRecordBrowser(server, device.interfaceIndex, fullName,
                                                  AVAHI_DNS_TYPE_TXT, onTxtReply, context);
        });
}

const BonjourDevice& BonjourQuery::device() const
{
    return static_cast<const BonjourQueryPrivate*>(d)->device;
}
