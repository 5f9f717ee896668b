#include "framework/contract/visibledevice.h"

VisibleDevice::VisibleDevice(Family* owner)
    : m_owner(owner)
{
}

VisibleDevice::~VisibleDevice() = default;

bool VisibleDevice::isUsbDevice()
{
    return false;
}

bool VisibleDevice::isTestMode()
{
    return false;
}

QWidget* VisibleDevice::summaryWidget()
{
    return nullptr;
}

bool VisibleDevice::isConnected()
{
    return true;
}

bool VisibleDevice::hasControlApp()
{
    return false;
}

QPixmap VisibleDevice::controlAppPixmap()
{
    return {};
}

QPixmap VisibleDevice::controlAppHoverPixmap()
{
    return {};
}

Family* VisibleDevice::owner()
{
    return m_owner;
}

VisibleDeviceBase::VisibleDeviceBase(Family* owner, const QString& name, const QPixmap& picture,
                                     const QPixmap& thumbnail, quint32 productId)
    : VisibleDevice(owner)
    , name(name)
    , picture(picture)
    , thumbnail(thumbnail)
    , productId(productId)
{
}
