#include "host/bonjourservice.h"

#include <memory>

namespace {

// Stands in until the avahi-backed discovery is wired: nothing is browsed and every
// one-shot question fails at once, as a start that failed would.
class IdleBonjourService : public BonjourService
{
public:
    ServiceBrowser* browse(const QString&, QObject* parent) override
    {
        return new ServiceBrowser(parent);
    }
    void resolve(const BonjourInfo&, ResolveCallback callback) override
    {
        callback(-65568, std::string(), 0);
    }
    void lookup(const std::string&, LookupCallback callback, uint16_t) override
    {
        callback(-65568, std::string());
    }
    void query(const std::string&, QueryCallback callback, const std::string&) override
    {
        callback(false, BonjourInfo());
    }
};

} // namespace

std::shared_ptr<BonjourService> makeBonjourService()
{
    return std::make_shared<IdleBonjourService>();
}
