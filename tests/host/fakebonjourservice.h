#pragma once

#include "host/bonjourservice.h"

#include <QList>
#include <QPointer>

// Records every DNS-SD question; the test answers them through the stored callbacks.
class FakeBonjourService : public BonjourService
{
public:
    struct Browse
    {
        QString name;
        QPointer<ServiceBrowser> browser;
    };
    struct Resolve
    {
        BonjourInfo info;
        ResolveCallback callback;
    };
    struct Lookup
    {
        std::string hostName;
        uint16_t port;
        LookupCallback callback;
    };
    struct Query
    {
        std::string address;
        std::string serviceType;
        QueryCallback callback;
    };

    ServiceBrowser* browse(const QString& serviceName, QObject* parent) override
    {
        auto* browser = new ServiceBrowser(parent);
        browses.append({serviceName, browser});
        return browser;
    }
    void resolve(const BonjourInfo& info, ResolveCallback callback) override
    {
        resolves.append({info, std::move(callback)});
    }
    void lookup(const std::string& hostName, LookupCallback callback, uint16_t port) override
    {
        lookups.append({hostName, port, std::move(callback)});
    }
    void query(const std::string& address, QueryCallback callback,
               const std::string& serviceType) override
    {
        queries.append({address, serviceType, std::move(callback)});
    }

    QList<Browse> browses;
    QList<Resolve> resolves;
    QList<Lookup> lookups;
    QList<Query> queries;
};
