#include "discovery/dnssd/bonjourhelperresolver.h"

#include "discovery/dnssd/bonjourhelper.h"

BonjourHelperResolver::BonjourHelperResolver() = default;

BonjourHelperResolver::~BonjourHelperResolver() = default;

void BonjourHelperResolver::resolve(const BonjourInfo& info,
                                    std::function<void(int, const std::string&, uint16_t)> callback,
                                    int timeoutMs)
{
    // Also registered here: a resolve must not depend on a BonjourHelper existing.
    registerBonjourMetaTypes();
    qRegisterMetaType<QSharedPointer<BonjourHelperResolver>>();
    QSharedPointer<BonjourHelperResolver> object(new BonjourHelperResolver, &QObject::deleteLater);
    object->m_info = info;
    object->m_callback = std::move(callback);
    object->m_self = object;

    const QWeakPointer<BonjourHelperResolver> weak = object;
    object->m_resolver.error.connect([weak](const BonjourDevice& device, int error) {
        if (QSharedPointer<BonjourHelperResolver> strong = weak.toStrongRef())
            QMetaObject::invokeMethod(strong.data(), "onError", Qt::AutoConnection,
                                      Q_ARG(QSharedPointer<BonjourHelperResolver>, strong),
                                      Q_ARG(BonjourDevice, device),
                                      Q_ARG(DNSServiceErrorType, error));
    });
    object->m_resolver.resolved.connect(
        [weak](const BonjourDevice& device, std::string hostName, unsigned short port) {
            if (QSharedPointer<BonjourHelperResolver> strong = weak.toStrongRef())
                QMetaObject::invokeMethod(strong.data(), "onResolved", Qt::AutoConnection,
                                          Q_ARG(QSharedPointer<BonjourHelperResolver>, strong),
                                          Q_ARG(BonjourDevice, device),
                                          Q_ARG(std::string, hostName), Q_ARG(uint16_t, port));
        });
    object->m_timer.setSingleShot(true);
    connect(
        &object->m_timer, &QTimer::timeout, &object->m_timer,
        [raw = object.data()] { raw->onTimeout(); }, Qt::DirectConnection);

    if (object->m_resolver.resolve(info)) {
        object->m_timer.start(timeoutMs);
    } else {
        // Runs the slot and the callback on this thread, before returning.
        object->m_resolver.error.emit(info, kDNSServiceErr_Timeout);
        object->m_self.reset();
    }
}

void BonjourHelperResolver::onError(QSharedPointer<BonjourHelperResolver>, BonjourDevice device,
                                    DNSServiceErrorType error)
{
    if (device == static_cast<const BonjourDevice&>(m_info))
        finish(error, std::string(), 0);
}

void BonjourHelperResolver::onResolved(QSharedPointer<BonjourHelperResolver>, BonjourDevice device,
                                       std::string hostName, uint16_t port)
{
    if (device == static_cast<const BonjourDevice&>(m_info))
        finish(kDNSServiceErr_NoError, hostName, port);
}

void BonjourHelperResolver::onTimeout()
{
    finish(kDNSServiceErr_Timeout, std::string(), 0);
}

void BonjourHelperResolver::finish(int error, const std::string& hostName, uint16_t port)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    // Deleted later, once the last queued answer holding it has gone too.
    m_self.reset();
    if (m_callback)
        m_callback(error, hostName, port);
}
