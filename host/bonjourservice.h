#pragma once

#include "discovery/records/bonjourinfo.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// One running browse for a service type, reporting on the GUI thread.
class ServiceBrowser : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void deviceArrived(BonjourInfo info);
    void deviceRemoved(BonjourInfo info);
    void deviceUpdated(BonjourInfo info);
};

// Everything the host asks of DNS-SD. The program uses the avahi-backed one; tests put a
// scripted one in its place. Every callback runs once, on the GUI thread.
class BonjourService
{
public:
    using ResolveCallback =
        std::function<void(int error, const std::string& hostName, uint16_t port)>;
    using LookupCallback = std::function<void(int error, const std::string& address)>;
    using QueryCallback = std::function<void(bool success, const BonjourInfo& info)>;

    virtual ~BonjourService() = default;

    // An empty name browses the default service type.
    virtual ServiceBrowser* browse(const QString& serviceName, QObject* parent) = 0;
    virtual void resolve(const BonjourInfo& info, ResolveCallback callback) = 0;
    // A port other than 0 also checks that a TCP connection to it opens.
    virtual void lookup(const std::string& hostName, LookupCallback callback, uint16_t port) = 0;
    // An empty service type asks for the default one.
    virtual void query(const std::string& address, QueryCallback callback,
                       const std::string& serviceType) = 0;
};

// How long each one-shot question may take before it counts as failed.
struct BonjourTimeouts
{
    int resolveMs = 5000;
    // For the address, and again for the connection check when a port is given.
    int lookupMs = 1000;
    int queryMs = 1000;
};

// The program's DNS-SD.
std::shared_ptr<BonjourService> makeBonjourService(const BonjourTimeouts& timeouts = {});
