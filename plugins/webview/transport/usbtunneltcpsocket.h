#pragma once

#include "plugins/webview/transport/abstractusbtunnel.h"

#include <QIODevice>

#include <cstdint>
#include <memory>

// A TCP connection to a port on a USB device, through the device's tunnel, as a QIODevice.
// open() asks for the connection and returns at once; connected or disconnected follows.
// Lives on one Qt thread; the tunnel's signals reach it queued.
class USBTunnelTCPSocket : public QIODevice
{
    Q_OBJECT
public:
    enum SocketState { UnconnectedState = 0, ConnectedState = 2 };
    Q_ENUM(SocketState)

    explicit USBTunnelTCPSocket(QObject* parent = nullptr);
    ~USBTunnelTCPSocket() override;

    // Both only while the socket is not open.
    void setTunnel(std::shared_ptr<AbstractUSBTunnel> tunnel);
    void setPort(uint16_t port);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // What the tunnel still queues of the bytes written.
    qint64 bytesToWrite() const override;

    SocketState socketState() const { return m_socketState; }
    uint16_t connectionId() const { return m_connectionId; }

signals:
    void socketStateChanged(USBTunnelTCPSocket::SocketState state);
    void connected();
    void disconnected();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    void onTunnelConnected();
    void onTunnelDisconnected();

    std::shared_ptr<AbstractUSBTunnel> m_tunnel;
    uint16_t m_port = 0;
    SocketState m_socketState = UnconnectedState;
    uint16_t m_connectionId = 0;
    // Whether this opening has told its end yet.
    bool m_endTold = true;
};
