#include "plugins/webview/transport/usbtunnelproxystore.h"

#include "plugins/webview/transport/usbtunnel.h"
#include "plugins/webview/transport/usbtunnelproxy.h"
#include "plugins/webview/transport/usbtunneltcpsocket.h"
#include "usb/driver/iusbdevice.h"

#include <QTcpSocket>

USBTunnelProxyStore::USBTunnelProxyStore(CVN::USB::IUSBDevice* device, QObject* parent)
    : TunnelProxyEndpoint(parent)
    , m_device(WebViewUsb::UsbRef<CVN::USB::IUSBDevice>::share(device))
{
    CVN::USB::IUSBDevice* shared = m_device.get();
    m_makeTunnel = [shared] {
        return std::shared_ptr<AbstractUSBTunnel>(USBTunnel::create(shared));
    };
    listen();
}

USBTunnelProxyStore::USBTunnelProxyStore(TunnelFactory makeTunnel, QObject* parent)
    : TunnelProxyEndpoint(parent)
    , m_makeTunnel(std::move(makeTunnel))
{
    listen();
}

USBTunnelProxyStore::~USBTunnelProxyStore()
{
    m_server.close();
    const QList<USBTunnelProxy*> proxies = std::exchange(m_proxies, {});
    for (USBTunnelProxy* proxy : proxies) {
        disconnect(proxy, nullptr, this, nullptr);
        proxy->close();
        proxy->deleteLater();
    }
}

void USBTunnelProxyStore::listen()
{
    connect(&m_server, &QTcpServer::newConnection, this, &USBTunnelProxyStore::onNewConnection);
    // Loopback only: the device's web page is for this machine's own web view.
    if (!m_server.listen(QHostAddress::LocalHost, kPreferredPort))
        m_server.listen(QHostAddress::LocalHost, 0);
}

void USBTunnelProxyStore::onNewConnection()
{
    while (QTcpSocket* tcpSocket = m_server.nextPendingConnection()) {
        auto* tunnelSocket = new USBTunnelTCPSocket;
        tunnelSocket->setTunnel(m_makeTunnel());
        tunnelSocket->setPort(m_devicePort);
        auto* proxy = new USBTunnelProxy(tcpSocket, tunnelSocket, this);
        connect(proxy, &USBTunnelProxy::disconnected, this, &USBTunnelProxyStore::onProxyClose);
        m_proxies.append(proxy);
    }
}

void USBTunnelProxyStore::onProxyClose()
{
    auto* proxy = qobject_cast<USBTunnelProxy*>(sender());
    if (!proxy)
        return;
    m_proxies.removeOne(proxy);
    disconnect(proxy, nullptr, this, nullptr);
    proxy->close();
    proxy->deleteLater();
}
