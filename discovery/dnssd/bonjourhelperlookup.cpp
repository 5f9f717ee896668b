#include "discovery/dnssd/bonjourhelperlookup.h"

#include "discovery/dnssd/bonjourhelper.h"

#include <QTcpSocket>

BonjourHelperLookup::BonjourHelperLookup() = default;

BonjourHelperLookup::~BonjourHelperLookup() = default;

void BonjourHelperLookup::lookup(const std::string& hostName,
                                 std::function<void(int, const std::string&)> callback,
                                 uint16_t port, int timeoutMs)
{
    registerBonjourMetaTypes();
    qRegisterMetaType<QSharedPointer<BonjourHelperLookup>>();
    QSharedPointer<BonjourHelperLookup> object(new BonjourHelperLookup, &QObject::deleteLater);
    object->m_callback = std::move(callback);
    object->m_port = port;
    object->m_timeoutMs = timeoutMs;
    object->m_self = object;

    const QWeakPointer<BonjourHelperLookup> weak = object;
    object->m_lookup.error.connect([weak](const std::string&, int error) {
        if (QSharedPointer<BonjourHelperLookup> strong = weak.toStrongRef())
            QMetaObject::invokeMethod(strong.data(), "onError", Qt::AutoConnection,
                                      Q_ARG(QSharedPointer<BonjourHelperLookup>, strong),
                                      Q_ARG(DNSServiceErrorType, error));
    });
    object->m_lookup.found.connect([weak](const std::string&, const std::string& address) {
        if (QSharedPointer<BonjourHelperLookup> strong = weak.toStrongRef())
            QMetaObject::invokeMethod(strong.data(), "onLookedUp", Qt::AutoConnection,
                                      Q_ARG(QSharedPointer<BonjourHelperLookup>, strong),
                                      Q_ARG(std::string, address));
    });
    object->m_timer.setSingleShot(true);
    connect(
        &object->m_timer, &QTimer::timeout, &object->m_timer,
        [raw = object.data()] { raw->onTimeout(); }, Qt::DirectConnection);

    if (object->m_lookup.lookup(std::string(), hostName)) {
        object->m_timer.start(timeoutMs);
    } else {
        // Runs the slot and the callback on this thread, before returning.
        object->m_lookup.error.emit(hostName, kDNSServiceErr_Timeout);
        object->m_self.reset();
    }
}

void BonjourHelperLookup::onError(QSharedPointer<BonjourHelperLookup>, DNSServiceErrorType error)
{
    finish(error, std::string());
}

void BonjourHelperLookup::onLookedUp(QSharedPointer<BonjourHelperLookup>, std::string ipAddress)
{
    if (m_done)
        return;
    if (m_port == 0) {
        finish(kDNSServiceErr_NoError, ipAddress);
        return;
    }
    // A later answer (another address of the host) starts no second check.
    if (findChild<QTcpSocket*>())
        return;
    auto* socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &BonjourHelperLookup::onConnected);
    socket->connectToHost(QString::fromStdString(ipAddress), m_port, QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    m_timer.start(m_timeoutMs);
}

void BonjourHelperLookup::onConnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    const std::string address = socket->peerName().toStdString();
    socket->disconnect();
    finish(kDNSServiceErr_NoError, address);
}

void BonjourHelperLookup::onTimeout()
{
    finish(kDNSServiceErr_Timeout, std::string());
}

void BonjourHelperLookup::finish(int error, const std::string& address)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    // Deleted later, once the last queued answer holding it has gone too.
    m_self.reset();
    if (m_callback)
        m_callback(error, address);
}
