#pragma once

#include "usbrpcpotentialdevice.h"

#include <QPointer>

#include <functional>

class TunnelProxyEndpoint;

// The plug-in's recorder on USB: reached at the loop-back address through a tunnel proxy of
// its own, and legacy by its release version while it runs its application.
class KestrelNovaWebViewUsbPotentialDevice : public UsbRpcPotentialDevice
{
    Q_OBJECT
public:
    // Makes the device's proxy store with the device as parent; may throw.
    using ProxyStoreFactory =
        std::function<TunnelProxyEndpoint*(KestrelNovaWebViewUsbPotentialDevice* parent)>;

    static constexpr char kLoopbackHost[] = "127.0.0.1";

    KestrelNovaWebViewUsbPotentialDevice(const std::shared_ptr<ConnectionManager>& manager,
                                         CVN::USB::IUSBDevice* device,
                                         ProxyStoreFactory proxyStoreFactory);

    std::string host() override;
    // 0 while no proxy store could be made.
    uint16_t port() override;
    bool isLegacy() override;
    void onAddedToFamily() override;

private:
    void createProxyStore();

    ProxyStoreFactory m_proxyStoreFactory;
    QPointer<TunnelProxyEndpoint> m_proxyStore;
};
