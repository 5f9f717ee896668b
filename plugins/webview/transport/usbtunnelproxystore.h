#pragma once

#include "plugins/webview/transport/tunnelproxyendpoint.h"
#include "plugins/webview/transport/usbref.h"

#include <QList>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <memory>

class AbstractUSBTunnel;
class USBTunnelProxy;

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

// Lets local TCP clients reach port 80 on a USB device: listens on 127.0.0.1 (never on any
// other address), port 32424 or a free one when that is taken, and joins every accepted
// connection to a new tunnel connection through a USBTunnelProxy.
class USBTunnelProxyStore : public TunnelProxyEndpoint
{
    Q_OBJECT
public:
    // Makes the tunnel connection of one accepted local connection.
    using TunnelFactory = std::function<std::shared_ptr<AbstractUSBTunnel>()>;

    static constexpr uint16_t kPreferredPort = 32424;
    static constexpr uint16_t kDevicePort = 80;

    // Takes its own reference on the device.
    USBTunnelProxyStore(CVN::USB::IUSBDevice* device, QObject* parent = nullptr);
    USBTunnelProxyStore(TunnelFactory makeTunnel, QObject* parent = nullptr);
    ~USBTunnelProxyStore() override;

    // 0 when it could listen on no port.
    uint16_t serverPort() const { return m_server.serverPort(); }
    uint16_t listeningPort() const override { return serverPort(); }
    int proxyCount() const { return m_proxies.size(); }

private slots:
    void onNewConnection();
    void onProxyClose();

private:
    void listen();

    WebViewUsb::UsbRef<CVN::USB::IUSBDevice> m_device;
    TunnelFactory m_makeTunnel;
    QTcpServer m_server;
    QList<USBTunnelProxy*> m_proxies;
    uint16_t m_devicePort = kDevicePort;
};
