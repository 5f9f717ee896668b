#include "novafactories.h"

#include "bpfuupdatetask.h"
#include "dfuupgradetask.h"
#include "httpupgradetask.h"
#include "kestrelnovawebviewbonjourconnectionmanager.h"
#include "kestrelnovawebviewbonjourpotentialdevice.h"
#include "kestrelnovawebviewconnecteddevice.h"
#include "kestrelnovawebviewusbpotentialdevice.h"
#include "novafamily.h"
#include "plugins/webview/transport/usbtunnelproxystore.h"
#include "productrecord.h"
#include "quenbybuildinfo.h"

#include <QDebug>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace {

// The products the plug-in can open a page for; kept apart from the table on purpose.
constexpr std::array<uint16_t, 7> kConnectableProducts = {0xBE1D, 0xBEAC, 0xBE76, 0xBE7A,
                                                          0xBE7B, 0xBE8C, 0xBE8D};

const char kLegacyServiceType[] = "_cvn_blockcfg._tcp.";
const char kCurrentServiceType[] = "_http._tcp.";

std::string txtValue(const BonjourInfo& info, const char* key)
{
    const auto it = info.txt.find(key);
    return it == info.txt.end() ? std::string() : it->second;
}

} // namespace

std::shared_ptr<ConnectedDevice> makeConnectedDevice(NovaVisibleDevice* visibleDevice,
                                                     std::shared_ptr<PotentialDevice> device)
{
    if (!device)
        return nullptr;
    const uint16_t productId = device->productId();
    if (std::find(kConnectableProducts.begin(), kConnectableProducts.end(), productId) ==
        kConnectableProducts.end())
        return nullptr;
    try {
        return std::make_shared<KestrelNovaWebViewConnectedDevice>(visibleDevice, device);
    } catch (const std::exception& error) {
        qDebug() << "Unable to create connected device: " << error.what();
        return nullptr;
    }
}

QSharedPointer<DeviceFirmwareUpdater>
makeBonjourFirmwareUpdater(std::shared_ptr<BonjourConnectionManager> manager,
                           std::shared_ptr<BonjourPotentialDevice> device)
{
    if (isLegacyReleaseVersion(device->releaseVersion()))
        return QSharedPointer<DeviceFirmwareUpdater>(
            new BpfuUpdateTask(std::move(manager), std::move(device)));
    return QSharedPointer<DeviceFirmwareUpdater>(
        new HttpUpgradeTask(std::move(manager), std::move(device)));
}

QSharedPointer<DeviceFirmwareUpdater>
makeUsbFirmwareUpdater(std::shared_ptr<UsbConnectionManager> manager,
                       std::shared_ptr<UsbPotentialDevice> device)
{
    return QSharedPointer<DeviceFirmwareUpdater>(new DfuUpgradeTask(manager, std::move(device)));
}

std::shared_ptr<BonjourPotentialDevice>
makeBonjourPotentialDevice(std::shared_ptr<BonjourConnectionManager> manager,
                           const BonjourInfo& info)
{
    if (txtValue(info, "product id").empty() || txtValue(info, "unique id").empty())
        return nullptr;
    const bool legacy =
        isLegacyReleaseVersion(QString::fromStdString(txtValue(info, "release version")));
    // The other service of the same recorder is taken in by the device made from this one.
    if (info.serviceType != (legacy ? kLegacyServiceType : kCurrentServiceType))
        return nullptr;
    try {
        return std::make_shared<KestrelNovaWebViewBonjourPotentialDevice>(manager, info);
    } catch (const std::exception& error) {
        qDebug() << "Unable to create Bonjour device: " << error.what();
        return nullptr;
    }
}

std::shared_ptr<UsbPotentialDevice>
makeUsbPotentialDevice(std::shared_ptr<UsbConnectionManager> manager, CVN::USB::IUSBDevice* device)
{
    try {
        return UsbPotentialDevice::create<KestrelNovaWebViewUsbPotentialDevice>(
            manager, device, [](KestrelNovaWebViewUsbPotentialDevice* parent) {
                return new USBTunnelProxyStore(parent->usbDevice(), parent);
            });
    } catch (const std::exception& error) {
        qDebug() << "Unable to create USB potential device: " << error.what();
    }
    try {
        auto plain = UsbPotentialDevice::create<UsbPotentialDevice>(manager, device);
        switch (plain->bootMode()) {
        case 10:
        case 11:
        case 12:
            return plain;
        case 0:
        case 1:
        case 2:
            throw std::runtime_error("Device is not in the bootloader");
        default:
            return nullptr;
        }
    } catch (const std::exception& error) {
        qDebug() << "Unable to create USB device: " << error.what();
    }
    return nullptr;
}

QWidget* makeNoWidget(NovaVisibleDevice*, std::shared_ptr<PotentialDevice>)
{
    return nullptr;
}

NovaFamily* createNovaFamily(QObject* window)
{
    const QSet<QString> serviceTypes = {QStringLiteral("_http._tcp"),
                                        QStringLiteral("_cvn_blockcfg._tcp")};
    auto* family = new NovaFamily(QStringLiteral("KestrelNovaWebView"), serviceTypes, window);
    family->setBuildInfo(QStringLiteral(QUENBY_BUILD_TIME), QStringLiteral(QUENBY_BUILD_VERSION),
                         QStringLiteral(QUENBY_RC_TAG), QStringLiteral(QUENBY_REVISION));
    family->addConnectionManager(std::make_shared<UsbConnectionManager>(
        family, supportedProducts(), makeConnectedDevice, makeUsbFirmwareUpdater,
        makeUsbPotentialDevice, makeNoWidget));
    family->addConnectionManager(std::make_shared<KestrelNovaWebViewBonjourConnectionManager>(
        family, supportedProducts(), makeConnectedDevice, makeBonjourFirmwareUpdater,
        makeBonjourPotentialDevice, makeNoWidget));
    return family;
}
