#include "discovery/dnssd/bonjourhelper.h"

void registerBonjourMetaTypes()
{
    registerBonjourRecordTypes();
    qRegisterMetaType<DNSServiceErrorType>("DNSServiceErrorType");
    qRegisterMetaType<std::string>("std::string");
    qRegisterMetaType<uint16_t>("uint16_t");
}

BonjourHelper::BonjourHelper(QString serviceName, QObject* parent)
    : BonjourHelper(std::move(serviceName), BonjourDiscovery::kRequeryIntervalMs, parent)
{
}

BonjourHelper::BonjourHelper(QString serviceName, int requeryIntervalMs, QObject* parent)
    : QObject(parent)
    , m_discovery(requeryIntervalMs)
    , m_serviceName(std::move(serviceName))
{
    registerBonjourMetaTypes();
    // Emitted on the DNS-SD core thread; receivers elsewhere get a queued copy.
    m_discovery.deviceArrived.connect(
        [this](const BonjourInfo& info) { Q_EMIT deviceArrived(info); });
    m_discovery.deviceRemoved.connect(
        [this](const BonjourInfo& info) { Q_EMIT deviceRemoved(info); });
    m_discovery.deviceUpdated.connect(
        [this](const BonjourInfo& info) { Q_EMIT deviceUpdated(info); });
    m_discovery.deviceResolved.connect(
        [this](const BonjourInfo& info) { Q_EMIT deviceResolved(info); });
    // Browsing starts from the event loop, after the creator has connected: with a warm cache
    // the first instance arrives at once, and an arrival emitted with no receiver is never
    // emitted again.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_discovery.start(m_serviceName.isEmpty() ? std::string(kDefaultServiceType)
                                                      : m_serviceName.toStdString());
        },
        Qt::QueuedConnection);
}

BonjourHelper::~BonjourHelper() = default;
