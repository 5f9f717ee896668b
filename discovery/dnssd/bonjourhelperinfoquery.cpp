#include "discovery/dnssd/bonjourhelperinfoquery.h"

#include "discovery/dnssd/bonjourhelper.h"

BonjourHelperInfoQuery::BonjourHelperInfoQuery() = default;

BonjourHelperInfoQuery::~BonjourHelperInfoQuery() = default;

void BonjourHelperInfoQuery::query(const std::string& address,
                                   std::function<void(bool, const BonjourInfo&)> callback,
                                   std::string serviceType, int timeoutMs)
{
    registerBonjourMetaTypes();
    qRegisterMetaType<QSharedPointer<BonjourHelperInfoQuery>>();
    QSharedPointer<BonjourHelperInfoQuery> object(new BonjourHelperInfoQuery,
                                                  &QObject::deleteLater);
    object->m_callback = std::move(callback);
    object->m_self = object;

    const QWeakPointer<BonjourHelperInfoQuery> weak = object;
    BonjourInfoQuery* query = &object->m_query;
    // The query's own threads call this; it outlives neither the query nor its threads.
    query->completed.connect([weak, query](bool complete) {
        if (QSharedPointer<BonjourHelperInfoQuery> strong = weak.toStrongRef())
            QMetaObject::invokeMethod(strong.data(), "onBonjourInfoQueryReceived",
                                      Qt::AutoConnection,
                                      Q_ARG(QSharedPointer<BonjourHelperInfoQuery>, strong),
                                      Q_ARG(bool, complete), Q_ARG(BonjourInfo, query->info()));
    });
    query->query(address, timeoutMs,
                 serviceType.empty() ? std::string(kDefaultServiceType) : serviceType);
}

void BonjourHelperInfoQuery::onBonjourInfoQueryReceived(QSharedPointer<BonjourHelperInfoQuery>,
                                                        bool complete, BonjourInfo result)
{
    finish(complete, result);
}

void BonjourHelperInfoQuery::finish(bool success, const BonjourInfo& info)
{
    if (m_done)
        return;
    m_done = true;
    // Deleted later, once the last queued answer holding it has gone too.
    m_self.reset();
    if (m_callback)
        m_callback(success, info);
}
