#pragma once

#include <QObject>
#include <QPointer>

#include <chrono>

class QTcpSocket;
class USBTunnelTCPSocket;

// Copies bytes both ways between an accepted local TCP connection and a tunnel socket, and
// tells disconnected when either side ends. Takes over both sockets; opens the tunnel socket
// at once.
class USBTunnelProxy : public QObject
{
    Q_OBJECT
public:
    // How long a closed local connection may take to hand its last bytes to its client.
    static constexpr std::chrono::milliseconds kLingerLimit{30000};
    // The device's bytes go to the client in pieces of this size, and only while the local
    // socket holds less than kClientBacklog of them unsent: the rest waits in the tunnel,
    // whose credit then holds the device back.
    static constexpr qint64 kPiece = 65536;
    static constexpr qint64 kClientBacklog = 1048576;
    // The other way alike: the client's bytes go into the tunnel only while it holds less than
    // kTunnelBacklog not yet on the device, and the local socket buffers at most that much, so
    // a slow device holds the client back through TCP instead of filling memory.
    static constexpr qint64 kTunnelBacklog = 1048576;

    USBTunnelProxy(QTcpSocket* tcpSocket, USBTunnelTCPSocket* tunnelSocket,
                   QObject* parent = nullptr);
    ~USBTunnelProxy() override;

    // Forwards what is pending both ways, then closes the local connection once its bytes
    // are written. The tunnel socket closes with the proxy.
    void close();

signals:
    void disconnected();

public slots:
    void dataFromTCPSocketToUSBTunnel();
    void dataFromUSBTunnelToTCPSocket();
    void onUSBTunnelConnected();

private:
    void forwardFromUSBTunnel(bool all);
    void forwardFromTCPSocket(bool all);

    QPointer<QTcpSocket> m_tcpSocket;
    USBTunnelTCPSocket* m_tunnelSocket;
};
