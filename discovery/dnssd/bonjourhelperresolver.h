#pragma once

#include "discovery/dnssd/bonjourresolver.h"
#include "discovery/dnssd/dnssd.h"
#include "discovery/records/bonjourinfo.h"

#include <QEnableSharedFromThis>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>

#include <functional>
#include <string>

// Resolves one service instance to host name and port, once. The callback runs on the GUI
// thread exactly once: (0, host, port) on success, the DNS-SD error code, or -65568 for a time-out
// or a start that failed (then before resolve returns).
class BonjourHelperResolver : public QObject, public QEnableSharedFromThis<BonjourHelperResolver>
{
    Q_OBJECT

public:
    using Callback = std::function<void(int error, const std::string& hostName, uint16_t port)>;
    static constexpr int kTimeoutMs = 5000;

    static void resolve(const BonjourInfo& info,
                        std::function<void(int, const std::string&, uint16_t)> callback,
                        int timeoutMs = kTimeoutMs);

    ~BonjourHelperResolver() override;

private slots:
    void onError(QSharedPointer<BonjourHelperResolver> sharedPtr, BonjourDevice device,
                 DNSServiceErrorType error);
    void onResolved(QSharedPointer<BonjourHelperResolver> sharedPtr, BonjourDevice device,
                    std::string hostName, uint16_t port);

private:
    BonjourHelperResolver();
    void onTimeout();
    void finish(int error, const std::string& hostName, uint16_t port);

    QSharedPointer<BonjourHelperResolver> m_self;
    BonjourResolver m_resolver;
    BonjourInfo m_info;
    Callback m_callback;
    QTimer m_timer;
    bool m_done = false;
};
