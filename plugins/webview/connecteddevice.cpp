#include "connecteddevice.h"

#include "novavisibledevice.h"
#include "potentialdevice.h"

ConnectedDevice::ConnectedDevice(NovaVisibleDevice* visibleDevice,
                                 const std::shared_ptr<PotentialDevice>& potentialDevice)
    : m_visibleDevice(visibleDevice)
    , m_potentialDevice(potentialDevice)
{
    qRegisterMetaType<ConnectionState>("ConnectionState");
}

ConnectedDevice::~ConnectedDevice() = default;

void ConnectedDevice::disconnect()
{
    emit disconnected();
}

QString ConnectedDevice::description()
{
    return {};
}

int ConnectedDevice::connectionType() const
{
    return m_potentialDevice ? m_potentialDevice->connectionType() : PotentialDevice::kNone;
}

void ConnectedDevice::setState(int state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit connectionStateChanged(ConnectionState(state));
}

NovaVisibleDevice* ConnectedDevice::visibleDevice() const
{
    return static_cast<NovaVisibleDevice*>(m_visibleDevice.data());
}

bool ConnectedDevice::needsFirmwareUpdate()
{
    NovaVisibleDevice* device = visibleDevice();
    return device && device->needsFirmwareUpdate();
}

bool ConnectedDevice::supportsFirmwareUpdate()
{
    NovaVisibleDevice* device = visibleDevice();
    return device && device->isSupported();
}

QString ConnectedDevice::currentReleaseVersion()
{
    return m_potentialDevice ? m_potentialDevice->releaseVersion() : QString();
}

QString ConnectedDevice::availableReleaseVersion()
{
    NovaVisibleDevice* device = visibleDevice();
    return device ? device->availableVersion() : QString();
}

QString ConnectedDevice::currentFirmwareBuild()
{
    return m_potentialDevice ? m_potentialDevice->firmwareBuild() : QString();
}

QString ConnectedDevice::availableFirmwareBuild()
{
    NovaVisibleDevice* device = visibleDevice();
    return device ? device->availableFirmwareBuild() : QString();
}
