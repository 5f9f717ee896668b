#include "commondevicewebchannelapi.h"

#include "vornosrestconfigurationserverdevice.h"

CommonDeviceWebChannelAPI::CommonDeviceWebChannelAPI(
    const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device, QObject* parent)
    : WebChannelAPI(QStringLiteral("CommonDeviceAPI"), parent)
    , m_device(device)
{
}

void CommonDeviceWebChannelAPI::log(const QJsonValue&) {}

void CommonDeviceWebChannelAPI::assertion(const QJsonValue&) {}

void CommonDeviceWebChannelAPI::setDeviceName(const QJsonValue& name)
{
    QString text;
    if (m_device && stringArgument(name, "setDeviceName", &text))
        m_device->setName(text);
}

void CommonDeviceWebChannelAPI::setDeviceHostname(const QJsonValue& hostname)
{
    QString text;
    if (m_device && stringArgument(hostname, "setDeviceHostname", &text))
        m_device->setHostname(text);
}
