#pragma once

#include "discovery/dns/bonjourinfoquery.h"
#include "discovery/records/bonjourinfo.h"

#include <QEnableSharedFromThis>
#include <QObject>
#include <QSharedPointer>

#include <functional>
#include <string>

// Asks one host directly (unicast, port 5353) for its instance of a service type, once. The
// callback runs on the GUI thread exactly once: (true, record) on a reply, (false, record as
// the query holds it) when none came within the time-out.
class BonjourHelperInfoQuery : public QObject, public QEnableSharedFromThis<BonjourHelperInfoQuery>
{
    Q_OBJECT

public:
    using Callback = std::function<void(bool success, const BonjourInfo& info)>;
    static constexpr int kTimeoutMs = 1000;
    static constexpr const char* kDefaultServiceType = "_corvane._tcp.local";

    static void query(const std::string& address,
                      std::function<void(bool, const BonjourInfo&)> callback,
                      std::string serviceType = std::string(), int timeoutMs = kTimeoutMs);

    ~BonjourHelperInfoQuery() override;

private slots:
    void onBonjourInfoQueryReceived(QSharedPointer<BonjourHelperInfoQuery> sharedPtr, bool complete,
                                    BonjourInfo result);

private:
    BonjourHelperInfoQuery();
    void finish(bool success, const BonjourInfo& info);

    QSharedPointer<BonjourHelperInfoQuery> m_self;
    BonjourInfoQuery m_query;
    Callback m_callback;
    bool m_done = false;
};
