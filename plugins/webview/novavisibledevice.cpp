#include "novavisibledevice.h"

#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/family.h"
#include "potentialdevice.h"

#include <QIcon>

#include <algorithm>
#include <set>

namespace {

const QString kNoVersion = QStringLiteral("0.0");

QPixmap pixmapOf(const QString& resource)
{
    const QIcon icon(resource);
    const QList<QSize> sizes = icon.availableSizes();
    return sizes.isEmpty() ? QPixmap() : icon.pixmap(sizes.first());
}

} // namespace

NovaVisibleDevice::NovaVisibleDevice(Family* owner, const DevicePtr& device)
    : VisibleDevice(owner)
    , m_availableBuild(kNoVersion)
    , m_availableVersion(kNoVersion)
    , m_uniqueId(device->uniqueId())
{
    m_devices.push_back(device);
    takePrimary(device);
    if (const auto record = device->productRecord()) {
        m_productName = record->name;
        m_productFamily = record->family;
        m_picture = pixmapOf(record->image);
        m_thumbnail = pixmapOf(record->thumbnail);
    }
}

NovaVisibleDevice::~NovaVisibleDevice() = default;

void NovaVisibleDevice::takePrimary(const DevicePtr& device)
{
    m_primary = device;
    if (!device)
        return;
    m_displayName = device->name();
    const auto record = device->productRecord();
    m_availableVersion = record ? record->releaseVersion : kNoVersion;
    m_availableBuild = record ? record->firmwareBuild : kNoVersion;
    m_recordHardwareRevision = record ? record->hardwareRevision : 0;
}

void NovaVisibleDevice::reportChange()
{
    if (owner())
        emit owner()->deviceInfoChanged(this);
    emit potentialDeviceListChanged();
}

void NovaVisibleDevice::attachPotentialDevice(const DevicePtr& device)
{
    if (!device)
        return;
    m_devices.push_back(device);
    if (!m_primary || device->priority() < m_primary->priority())
        takePrimary(device);
    reportChange();
}

void NovaVisibleDevice::detachPotentialDevice(PotentialDevice* device)
{
    // Held until the end: the list may hold the last reference.
    const DevicePtr keep = m_primary;
    m_devices.erase(std::remove_if(m_devices.begin(), m_devices.end(),
                                   [device](const DevicePtr& d) { return d.get() == device; }),
                    m_devices.end());
    if (m_primary.get() == device) {
        DevicePtr next;
        for (const DevicePtr& candidate : m_devices) {
            if (!next || candidate->priority() < next->priority())
                next = candidate;
        }
        takePrimary(next);
    }
    reportChange();
}

QPixmap NovaVisibleDevice::connectionIcon(const char* both, const char* network,
                                          const char* usb) const
{
    std::set<int> types;
    for (const DevicePtr& device : m_devices)
        types.insert(device->connectionType());
    const bool hasUsb = types.count(PotentialDevice::kUsb) != 0;
    const bool hasNetwork = types.count(PotentialDevice::kEthernet) != 0;
    if (hasUsb && hasNetwork)
        return pixmapOf(QString::fromLatin1(both));
    if (hasNetwork)
        return pixmapOf(QString::fromLatin1(network));
    if (hasUsb)
        return pixmapOf(QString::fromLatin1(usb));
    return QPixmap();
}

QPixmap NovaVisibleDevice::launcherConnectionIcon()
{
    return connectionIcon(":/Launcher_Connection_Both", ":/Launcher_Connection_Network",
                          ":/Launcher_Connection_USB");
}

QPixmap NovaVisibleDevice::cardConnectionIcon()
{
    return connectionIcon(":/Card_Connection_Both", ":/Card_Connection_Network",
                          ":/Card_Connection_USB");
}

bool NovaVisibleDevice::isUsbDevice()
{
    return m_primary && m_primary->connectionType() == PotentialDevice::kUsb;
}

bool NovaVisibleDevice::showsFirmwareStatus()
{
    return m_primary && m_primary->showsFirmwareStatus();
}

QString NovaVisibleDevice::softwareVersion()
{
    return m_primary ? m_primary->releaseVersion() : kNoVersion;
}

bool NovaVisibleDevice::isSupported()
{
    return m_primary && (m_primary->hardwareRevision() & 0xFF00) <= m_recordHardwareRevision;
}

bool NovaVisibleDevice::needsFirmwareUpdate()
{
    return isSupported() && !m_primary->firmwareBuildMatches(m_availableBuild);
}

bool NovaVisibleDevice::isLegacy()
{
    return m_primary && m_primary->isLegacy();
}

QSharedPointer<DeviceFirmwareUpdater> NovaVisibleDevice::deviceHandle()
{
    return m_primary ? m_primary->createFirmwareUpdater(this) : nullptr;
}

bool NovaVisibleDevice::isTestMode()
{
    return m_primary && m_primary->isTestMode();
}

QWidget* NovaVisibleDevice::summaryWidget()
{
    return m_primary ? m_primary->createWidget(this) : nullptr;
}

bool NovaVisibleDevice::hasControlApp()
{
    return hasControlAppCallback ? hasControlAppCallback() : false;
}

std::shared_ptr<ConnectedDevice> NovaVisibleDevice::createConnectedDevice()
{
    const bool listed = std::find(m_devices.begin(), m_devices.end(), m_primary) != m_devices.end();
    return m_primary && listed ? m_primary->createConnectedDevice(this) : nullptr;
}

void NovaVisibleDevice::showControlApp()
{
    if (showControlAppCallback)
        showControlAppCallback(owner());
    else if (m_primary)
        m_primary->showControlApp();
}

void NovaVisibleDevice::setDisplayName(const QString& name)
{
    m_displayName = name;
    if (owner())
        emit owner()->deviceInfoChanged(this);
}
