#include "bonjourconnectionmanager.h"

#include "bonjourpotentialdevice.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "novafamilybase.h"
#include "txtnumber.h"

#include <QTimer>

#include <algorithm>
#include <stdexcept>

BonjourConnectionManager::BonjourConnectionManager(NovaFamilyBase* family, ProductTable products,
                                                   ConnectedDeviceFactory connectedDeviceFactory,
                                                   FirmwareUpdaterFactory firmwareUpdaterFactory,
                                                   PotentialDeviceFactory potentialDeviceFactory,
                                                   WidgetFactory widgetFactory)
    : ConnectionManager(QStringLiteral("Ethernet"), family, std::move(products))
    , m_connectedDeviceFactory(std::move(connectedDeviceFactory))
    , m_firmwareUpdaterFactory(std::move(firmwareUpdaterFactory))
    , m_potentialDeviceFactory(std::move(potentialDeviceFactory))
    , m_widgetFactory(std::move(widgetFactory))
{
}

BonjourConnectionManager::~BonjourConnectionManager() = default;

QString BonjourConnectionManager::uniqueIdOf(const BonjourInfo& info)
{
    const auto it = info.txt.find("unique id");
    return it == info.txt.end() ? QString() : QString::fromStdString(it->second).toLower();
}

bool BonjourConnectionManager::isSupported(const BonjourInfo& info) const
{
    uint16_t productId = 0;
    const auto id = info.txt.find("product id");
    if (id != info.txt.end()) {
        try {
            productId = txtHexadecimal16(id->second);
        } catch (const std::logic_error&) {
            productId = 0;
        }
    }
    const auto name = info.txt.find("name");
    if (productId == 0 && name != info.txt.end() && !name->second.empty()) {
        const QString advertised = QString::fromStdString(name->second);
        for (const auto& row : productTable()) {
            if (row.second.aliasNames.count(advertised))
                return true;
        }
    }
    return findProduct(productId) != nullptr;
}

BonjourConnectionManager::DevicePtr
BonjourConnectionManager::findIn(const std::list<DevicePtr>& devices, const QString& uniqueId)
{
    for (const DevicePtr& device : devices) {
        if (device->uniqueId() == uniqueId)
            return device;
    }
    return nullptr;
}

BonjourConnectionManager::DevicePtr
BonjourConnectionManager::findKnownByUniqueId(const QString& uniqueId) const
{
    return findIn(m_known, uniqueId);
}

bool BonjourConnectionManager::isPending(const QString& uniqueId) const
{
    return findIn(m_pending, uniqueId) != nullptr;
}

bool BonjourConnectionManager::deviceAdded(const BonjourInfo& info)
{
    if (!isSupported(info))
        return false;
    const QString uniqueId = uniqueIdOf(info);
    DevicePtr device = findIn(m_known, uniqueId);
    if (!device)
        device = findIn(m_pending, uniqueId);
    if (device) {
        device->update(info);
        return true;
    }
    if (!m_potentialDeviceFactory)
        return false;
    device = m_potentialDeviceFactory(
        std::static_pointer_cast<BonjourConnectionManager>(shared_from_this()), info);
    if (!device)
        return false;
    if (!info.hostName.empty()) {
        m_known.push_back(device);
        if (family())
            family()->addPotentialDevice(device);
    } else {
        m_pending.push_back(device);
        requestResolve(info);
    }
    return true;
}

void BonjourConnectionManager::requestResolve(const BonjourInfo& info)
{
    if (family())
        emit family()->bonjourResolveRequested(info, family()->serviceNames());
}

bool BonjourConnectionManager::deviceResolved(const BonjourInfo& info, bool ok,
                                              const std::string& hostName,
                                              const std::string& address, uint16_t port)
{
    if (!isSupported(info))
        return false;
    const QString uniqueId = uniqueIdOf(info);
    if (const DevicePtr device = findIn(m_pending, uniqueId)) {
        if (!ok) {
            // Asked again only while the device still waits for its first address.
            QTimer::singleShot(kResolveRetryMs, this, [this, info, uniqueId] {
                if (isPending(uniqueId))
                    requestResolve(info);
            });
            return true;
        }
        m_known.push_back(device);
        m_pending.remove(device);
        if (family())
            family()->addPotentialDevice(device);
        return true;
    }
    if (const DevicePtr device = findIn(m_known, uniqueId))
        device->onResolved(info, ok, hostName, address, port);
    return true;
}

bool BonjourConnectionManager::deviceUpdated(const BonjourInfo& info)
{
    if (!isSupported(info))
        return false;
    if (const DevicePtr device = findIn(m_known, uniqueIdOf(info)))
        device->update(info);
    return true;
}

bool BonjourConnectionManager::deviceRemoved(const BonjourInfo& info)
{
    if (!isSupported(info))
        return false;
    const QString uniqueId = uniqueIdOf(info);
    m_pending.remove_if([&](const DevicePtr& device) { return device->uniqueId() == uniqueId; });
    if (const DevicePtr device = findIn(m_known, uniqueId)) {
        device->removeInterface(info);
        if (device->interfaceCount() == 0) {
            m_known.remove(device);
            if (family())
                family()->removePotentialDeviceByUniqueId(device);
        }
    }
    return true;
}

std::shared_ptr<ConnectedDevice>
BonjourConnectionManager::createConnectedDevice(NovaVisibleDevice* visibleDevice,
                                                PotentialDevice* device)
{
    if (!visibleDevice || !device || !m_connectedDeviceFactory)
        return nullptr;
    for (const DevicePtr& known : m_known) {
        if (static_cast<PotentialDevice*>(known.get()) == device)
            return m_connectedDeviceFactory(visibleDevice, known);
    }
    return nullptr;
}

QSharedPointer<DeviceFirmwareUpdater>
BonjourConnectionManager::createFirmwareUpdater(NovaVisibleDevice* visibleDevice,
                                                PotentialDevice* device)
{
    if (!visibleDevice || !device || !m_firmwareUpdaterFactory)
        return nullptr;
    const DevicePtr known = findIn(m_known, device->uniqueId());
    if (!known)
        return nullptr;
    return m_firmwareUpdaterFactory(
        std::static_pointer_cast<BonjourConnectionManager>(shared_from_this()), known);
}

QWidget* BonjourConnectionManager::createWidget(NovaVisibleDevice* visibleDevice,
                                                PotentialDevice* device)
{
    if (!visibleDevice || !device || !m_widgetFactory)
        return nullptr;
    const DevicePtr known = findIn(m_known, device->uniqueId());
    return known ? m_widgetFactory(visibleDevice, known) : nullptr;
}
