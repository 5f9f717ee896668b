#include "host/bonjourservice.h"

#include "discovery/dnssd/bonjourhelper.h"
#include "discovery/dnssd/bonjourhelperinfoquery.h"
#include "discovery/dnssd/bonjourhelperlookup.h"
#include "discovery/dnssd/bonjourhelperresolver.h"

#include <memory>

namespace {

// One BonjourHelper; its signals come from the DNS-SD thread and are passed on queued.
class HelperServiceBrowser : public ServiceBrowser
{
public:
    HelperServiceBrowser(const QString& serviceName, QObject* parent)
        : ServiceBrowser(parent)
        , m_helper(serviceName, this)
    {
        connect(&m_helper, &BonjourHelper::deviceArrived, this, &ServiceBrowser::deviceArrived,
                Qt::QueuedConnection);
        connect(&m_helper, &BonjourHelper::deviceRemoved, this, &ServiceBrowser::deviceRemoved,
                Qt::QueuedConnection);
        connect(&m_helper, &BonjourHelper::deviceUpdated, this, &ServiceBrowser::deviceUpdated,
                Qt::QueuedConnection);
    }

private:
    BonjourHelper m_helper;
};

class HelperBonjourService : public BonjourService
{
public:
    explicit HelperBonjourService(const BonjourTimeouts& timeouts)
        : m_timeouts(timeouts)
    {
    }

    ServiceBrowser* browse(const QString& serviceName, QObject* parent) override
    {
        return new HelperServiceBrowser(serviceName, parent);
    }
    void resolve(const BonjourInfo& info, ResolveCallback callback) override
    {
        BonjourHelperResolver::resolve(info, std::move(callback), m_timeouts.resolveMs);
    }
    void lookup(const std::string& hostName, LookupCallback callback, uint16_t port) override
    {
        BonjourHelperLookup::lookup(hostName, std::move(callback), port, m_timeouts.lookupMs);
    }
    void query(const std::string& address, QueryCallback callback,
               const std::string& serviceType) override
    {
        BonjourHelperInfoQuery::query(address, std::move(callback), serviceType,
                                      m_timeouts.queryMs);
    }

private:
    BonjourTimeouts m_timeouts;
};

} // namespace

std::shared_ptr<BonjourService> makeBonjourService(const BonjourTimeouts& timeouts)
{
    return std::make_shared<HelperBonjourService>(timeouts);
}
