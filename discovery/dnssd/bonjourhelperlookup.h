#pragma once

#include "discovery/dnssd/bonjourhostnamelookup.h"
#include "discovery/dnssd/dnssd.h"

#include <QEnableSharedFromThis>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>

#include <functional>
#include <string>

// Looks up the IPv4 address of a host name, once, and when a port is given checks that a TCP
// connection to it opens. The callback runs on the GUI thread exactly once: (0, address) on
// success, the DNS-SD error code, or -65568 for a time-out, a refused connection or a start
// that failed (then before lookup returns).
class BonjourHelperLookup : public QObject, public QEnableSharedFromThis<BonjourHelperLookup>
{
    Q_OBJECT

public:
    using Callback = std::function<void(int error, const std::string& address)>;
    // For the look-up, and again for the connection check.
    static constexpr int kTimeoutMs = 1000;

    static void lookup(const std::string& hostName,
                       std::function<void(int, const std::string&)> callback, uint16_t port = 0,
                       int timeoutMs = kTimeoutMs);

    ~BonjourHelperLookup() override;

private slots:
    void onError(QSharedPointer<BonjourHelperLookup> sharedPtr, DNSServiceErrorType error);
    void onLookedUp(QSharedPointer<BonjourHelperLookup> sharedPtr, std::string ipAddress);
    void onConnected();

private:
    BonjourHelperLookup();
    void onTimeout();
    void finish(int error, const std::string& address);

    QSharedPointer<BonjourHelperLookup> m_self;
    BonjourHostnameLookup m_lookup;
    Callback m_callback;
    uint16_t m_port = 0;
    int m_timeoutMs = kTimeoutMs;
    QTimer m_timer;
    bool m_done = false;
};
