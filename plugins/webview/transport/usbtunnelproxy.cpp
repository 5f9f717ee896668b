#include "plugins/webview/transport/usbtunnelproxy.h"

#include "plugins/webview/transport/usbtunneltcpsocket.h"

#include <QTcpSocket>
#include <QTimer>

USBTunnelProxy::USBTunnelProxy(QTcpSocket* tcpSocket, USBTunnelTCPSocket* tunnelSocket,
                               QObject* parent)
    : QObject(parent)
    , m_tcpSocket(tcpSocket)
    , m_tunnelSocket(tunnelSocket)
{
    m_tunnelSocket->setParent(this);
    tcpSocket->setReadBufferSize(kTunnelBacklog);
    connect(tcpSocket, &QTcpSocket::disconnected, this, &USBTunnelProxy::disconnected);
    connect(tcpSocket, &QTcpSocket::readyRead, this, &USBTunnelProxy::dataFromTCPSocketToUSBTunnel);
    connect(tcpSocket, &QTcpSocket::bytesWritten, this,
            &USBTunnelProxy::dataFromUSBTunnelToTCPSocket);
    connect(tunnelSocket, &USBTunnelTCPSocket::connected, this,
            &USBTunnelProxy::onUSBTunnelConnected, Qt::QueuedConnection);
    connect(tunnelSocket, &USBTunnelTCPSocket::disconnected, this, &USBTunnelProxy::disconnected);
    connect(tunnelSocket, &USBTunnelTCPSocket::readyRead, this,
            &USBTunnelProxy::dataFromUSBTunnelToTCPSocket);
    connect(tunnelSocket, &USBTunnelTCPSocket::bytesWritten, this,
            &USBTunnelProxy::dataFromTCPSocketToUSBTunnel);
    // A tunnel that cannot even be asked for ends the proxy once its owner listens.
    if (!tunnelSocket->open(QIODevice::ReadWrite))
        QMetaObject::invokeMethod(this, &USBTunnelProxy::disconnected, Qt::QueuedConnection);
}

USBTunnelProxy::~USBTunnelProxy()
{
    close();
    delete m_tunnelSocket;
}

void USBTunnelProxy::dataFromTCPSocketToUSBTunnel()
{
    forwardFromTCPSocket(false);
}

void USBTunnelProxy::forwardFromTCPSocket(bool all)
{
    if (!m_tcpSocket || !m_tunnelSocket->isOpen())
        return;
    while (all || m_tunnelSocket->bytesToWrite() < kTunnelBacklog) {
        const QByteArray piece = m_tcpSocket->read(kPiece);
        if (piece.isEmpty())
            return;
        m_tunnelSocket->write(piece);
    }
}

void USBTunnelProxy::dataFromUSBTunnelToTCPSocket()
{
    forwardFromUSBTunnel(false);
}

// Pieces, not everything at once: a backlog of megabytes read whole takes fresh memory each
// time, a page fault every 4 KiB, so the further the proxy fell behind the slower it got.
void USBTunnelProxy::forwardFromUSBTunnel(bool all)
{
    if (!m_tcpSocket)
        return;
    while (all || m_tcpSocket->bytesToWrite() < kClientBacklog) {
        const QByteArray piece = m_tunnelSocket->read(kPiece);
        if (piece.isEmpty())
            return;
        m_tcpSocket->write(piece);
    }
}

void USBTunnelProxy::onUSBTunnelConnected()
{
    if (m_tcpSocket && m_tcpSocket->bytesAvailable() > 0)
        dataFromTCPSocketToUSBTunnel();
}

void USBTunnelProxy::close()
{
    if (!m_tcpSocket)
        return;
    disconnect(m_tcpSocket, nullptr, this, nullptr);
    disconnect(m_tunnelSocket, nullptr, this, nullptr);
    forwardFromTCPSocket(true);
    forwardFromUSBTunnel(true);
    QTcpSocket* socket = m_tcpSocket;
    m_tcpSocket = nullptr;
    if (socket->isOpen()) {
        socket->flush();
        socket->close();
    }
    // A socket deleted while it still holds bytes for its client drops them: it goes once
    // they are written, or after the linger limit.
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kLingerLimit, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}
