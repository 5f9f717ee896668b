#include "kestrelnovawebviewusbpotentialdevice.h"

#include "plugins/webview/transport/tunnelproxyendpoint.h"

#include <QDebug>

KestrelNovaWebViewUsbPotentialDevice::KestrelNovaWebViewUsbPotentialDevice(
    const std::shared_ptr<ConnectionManager>& manager, CVN::USB::IUSBDevice* device,
    ProxyStoreFactory proxyStoreFactory)
    : UsbRpcPotentialDevice(manager, device)
    , m_proxyStoreFactory(std::move(proxyStoreFactory))
{
}

std::string KestrelNovaWebViewUsbPotentialDevice::host()
{
    return kLoopbackHost;
}

uint16_t KestrelNovaWebViewUsbPotentialDevice::port()
{
    createProxyStore();
    return m_proxyStore ? m_proxyStore->listeningPort() : 0;
}

bool KestrelNovaWebViewUsbPotentialDevice::isLegacy()
{
    // Only the application modes report a release; a loader or an unknown mode is legacy.
    const uint8_t mode = bootMode();
    if (mode <= 2)
        return isLegacyReleaseVersion(releaseVersion());
    return true;
}

void KestrelNovaWebViewUsbPotentialDevice::onAddedToFamily()
{
    createProxyStore();
}

void KestrelNovaWebViewUsbPotentialDevice::createProxyStore()
{
    if (m_proxyStore || !m_proxyStoreFactory)
        return;
    try {
        m_proxyStore = m_proxyStoreFactory(this);
    } catch (const std::exception& error) {
        qDebug() << "Failed to initialize USB tunnel proxy." << error.what();
    }
}
