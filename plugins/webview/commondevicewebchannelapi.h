#pragma once

#include "webchannelapi.h"

#include <memory>

class VornOSRESTConfigurationServerDevice;

// "CommonDeviceAPI": the settings page's footer buttons and the device's names.
class CommonDeviceWebChannelAPI : public WebChannelAPI
{
    Q_OBJECT
public:
    explicit CommonDeviceWebChannelAPI(
        const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device,
        QObject* parent = nullptr);

Q_SIGNALS:
    void settingsCancelClicked();
    void settingsSaveClicked();

public Q_SLOTS:
    void log(const QJsonValue& name);
    void assertion(const QJsonValue& name);
    void setDeviceName(const QJsonValue& name);
    void setDeviceHostname(const QJsonValue& hostname);

private:
    std::shared_ptr<VornOSRESTConfigurationServerDevice> m_device;
};
