#include "plugins/webview/transport/usbtunneltcpsocket.h"

#include <QDebug>

#include <exception>

USBTunnelTCPSocket::USBTunnelTCPSocket(QObject* parent)
    : QIODevice(parent)
{
}

USBTunnelTCPSocket::~USBTunnelTCPSocket()
{
    if (isOpen())
        close();
}

void USBTunnelTCPSocket::setTunnel(std::shared_ptr<AbstractUSBTunnel> tunnel)
{
    if (isOpen())
        return;
    if (m_tunnel)
        QObject::disconnect(m_tunnel.get(), nullptr, this, nullptr);
    m_tunnel = std::move(tunnel);
    if (!m_tunnel)
        return;
    QObject::connect(m_tunnel.get(), &AbstractUSBTunnel::connected, this,
                     &USBTunnelTCPSocket::onTunnelConnected);
    QObject::connect(m_tunnel.get(), &AbstractUSBTunnel::disconnected, this,
                     &USBTunnelTCPSocket::onTunnelDisconnected);
    QObject::connect(m_tunnel.get(), &AbstractUSBTunnel::readyRead, this,
                     &USBTunnelTCPSocket::readyRead);
    QObject::connect(m_tunnel.get(), &AbstractUSBTunnel::bytesWritten, this,
                     &USBTunnelTCPSocket::bytesWritten);
}

void USBTunnelTCPSocket::setPort(uint16_t port)
{
    if (!isOpen())
        m_port = port;
}

bool USBTunnelTCPSocket::open(OpenMode mode)
{
    if (isOpen()) {
        qWarning().noquote() << Q_FUNC_INFO << "already open";
        return false;
    }
    if (!m_tunnel) {
        qWarning().noquote() << Q_FUNC_INFO << "no USB tunnel specified";
        return false;
    }
    try {
        m_tunnel->connect(m_port);
    } catch (const std::exception& e) {
        // Nothing may leave through the event loop: the open fails instead.
        qWarning().noquote() << Q_FUNC_INFO << "could not connect:" << e.what();
        return false;
    }
    m_connectionId = m_tunnel->connectionId();
    m_endTold = false;
    return QIODevice::open(mode);
}

void USBTunnelTCPSocket::close()
{
    if (!isOpen())
        return;
    m_tunnel->closeConnection();
    QIODevice::close();
    m_connectionId = 0;
    onTunnelDisconnected();
}

qint64 USBTunnelTCPSocket::bytesAvailable() const
{
    const qint64 queued = m_tunnel ? qint64(m_tunnel->bytesAvailable()) : 0;
    return queued + QIODevice::bytesAvailable();
}

qint64 USBTunnelTCPSocket::bytesToWrite() const
{
    return m_tunnel ? qint64(m_tunnel->bytesToWrite()) : 0;
}

qint64 USBTunnelTCPSocket::readData(char* data, qint64 maxSize)
{
    if (!isOpen())
        return -1;
    if (maxSize <= 0)
        return 0;
    return qint64(m_tunnel->read(data, uint64_t(maxSize)));
}

qint64 USBTunnelTCPSocket::writeData(const char* data, qint64 len)
{
    if (!m_tunnel)
        return 0;
    m_tunnel->write(data, uint64_t(len));
    return len;
}

void USBTunnelTCPSocket::onTunnelConnected()
{
    if (m_socketState == ConnectedState)
        return;
    m_socketState = ConnectedState;
    emit socketStateChanged(m_socketState);
    emit connected();
}

// Told once per opening, also when the device never opened the connection: whoever waits
// on the socket must hear that it will not connect.
void USBTunnelTCPSocket::onTunnelDisconnected()
{
    if (m_socketState != UnconnectedState) {
        m_socketState = UnconnectedState;
        emit socketStateChanged(m_socketState);
    }
    if (m_endTold)
        return;
    m_endTold = true;
    emit disconnected();
}
