#pragma once

#include "discovery/dnssd/bonjourdiscovery.h"
#include "discovery/dnssd/dnssd.h"
#include "discovery/records/bonjourinfo.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <string>

Q_DECLARE_METATYPE(std::string)

// Registers BonjourInfo, BonjourDevice, DNSServiceErrorType, std::string and uint16_t under
// those names for queued signals and invocations by name. Safe to call more than once.
void registerBonjourMetaTypes();

// Runs one discovery of a service type ("_corvane._tcp" when the name is empty) and re-emits
// its results as Qt signals. They are emitted on the DNS-SD core thread, so receivers on other
// threads get them queued. Browsing starts once control is back in the creating thread's event
// loop, so connections made right after construction miss nothing.
class BonjourHelper : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kDefaultServiceType = "_corvane._tcp";

    explicit BonjourHelper(QString serviceName = QString(), QObject* parent = nullptr);
    // Shorter re-query periods, for tests.
    BonjourHelper(QString serviceName, int requeryIntervalMs, QObject* parent = nullptr);
    ~BonjourHelper() override;

signals:
    void deviceArrived(BonjourInfo info);
    void deviceRemoved(BonjourInfo info);
    void deviceUpdated(BonjourInfo info);
    void deviceResolved(BonjourInfo info);

private:
    BonjourDiscovery m_discovery;
    QString m_serviceName;
};
