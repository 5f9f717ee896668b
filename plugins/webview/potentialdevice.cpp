#include "potentialdevice.h"

#include "connectionmanager.h"
#include "framework/contract/devicefirmwareupdater.h"

PotentialDevice::PotentialDevice(const std::shared_ptr<ConnectionManager>& manager)
    : m_manager(manager)
{
}

PotentialDevice::~PotentialDevice() = default;

std::string PotentialDevice::host()
{
    return {};
}

uint16_t PotentialDevice::port()
{
    return 0;
}

bool PotentialDevice::firmwareBuildMatches(const QString& build)
{
    return firmwareBuild() == build;
}

void PotentialDevice::showControlApp() {}

bool PotentialDevice::isTestMode()
{
    return false;
}

bool PotentialDevice::showsFirmwareStatus()
{
    return false;
}

void PotentialDevice::onAddedToFamily() {}

std::shared_ptr<ConnectedDevice>
PotentialDevice::createConnectedDevice(NovaVisibleDevice* visibleDevice)
{
    const auto owner = manager();
    return owner ? owner->createConnectedDevice(visibleDevice, this) : nullptr;
}

QSharedPointer<DeviceFirmwareUpdater>
PotentialDevice::createFirmwareUpdater(NovaVisibleDevice* visibleDevice)
{
    const auto owner = manager();
    return owner ? owner->createFirmwareUpdater(visibleDevice, this) : nullptr;
}

QWidget* PotentialDevice::createWidget(NovaVisibleDevice* visibleDevice)
{
    const auto owner = manager();
    return owner ? owner->createWidget(visibleDevice, this) : nullptr;
}

std::optional<ProductRecord> PotentialDevice::productRecord()
{
    const auto owner = manager();
    if (!owner)
        return std::nullopt;
    const ProductRecord* record = owner->findProduct(productId());
    return record ? std::optional<ProductRecord>(*record) : std::nullopt;
}
