#include "usbpotentialdevice.h"

#include "plugins/webview/transport/usbqueryinterface.h"
#include "plugins/webview/transport/usbserialnumber.h"

#include <QDebug>
#include <QThread>

#include <stdexcept>

UsbPotentialDevice::UsbPotentialDevice(const std::shared_ptr<ConnectionManager>& manager,
                                       CVN::USB::IUSBDevice* device)
    : PotentialDevice(manager)
    , m_device(WebViewUsb::UsbRef<CVN::USB::IUSBDevice>::share(device))
{
    device->setDriverOption(0);
    for (int attempt = 0; attempt < kSerialNumberAttempts; ++attempt) {
        try {
            m_uniqueId = QString::fromStdWString(serialNumber(device)).toLower();
            break;
        } catch (const std::exception& error) {
            qDebug() << "USB potential device:" << error.what();
        }
    }
    device->productId(&m_productId);
    device->deviceRevision(&m_hardwareRevision);
}

UsbPotentialDevice::~UsbPotentialDevice() = default;

void UsbPotentialDevice::deleteOnOwnThread(QObject* object)
{
    if (!object)
        return;
    if (object->thread() == QThread::currentThread())
        delete object;
    else
        object->deleteLater();
}

bool UsbPotentialDevice::readProperty(const std::string& key, QString* value)
{
    try {
        UsbQueryInterface query(m_device.get());
        if (!(query.capabilities() & kPropertiesCapability))
            return false;
        *value = QString::fromStdString(query.query(key));
        return true;
    } catch (const std::exception& error) {
        qDebug() << "USB potential device:" << key.c_str() << error.what();
        return false;
    }
}

QString UsbPotentialDevice::name()
{
    QString value;
    return readProperty("DeviceName", &value) ? value : tr("Corvane Device");
}

QString UsbPotentialDevice::firmwareBuild()
{
    QString value;
    return readProperty("BuildId", &value) ? value.toLower() : QString();
}

QString UsbPotentialDevice::releaseVersion()
{
    QString value;
    return readProperty("ReleaseVersion", &value) ? value : QString();
}

uint8_t UsbPotentialDevice::bootMode()
{
    try {
        UsbQueryInterface query(m_device.get());
        if (!(query.capabilities() & kBootModeCapability))
            return kUnknownBootMode;
        return query.getStatus();
    } catch (const std::exception& error) {
        qDebug() << "USB potential device: boot mode" << error.what();
        return kUnknownBootMode;
    }
}
