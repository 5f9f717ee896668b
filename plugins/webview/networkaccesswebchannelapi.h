#pragma once

#include "webchannelapi.h"

#include <memory>

class VornOSRESTConfigurationServerDevice;

// "NetworkAccessAPI": the clipboard and the desktop's browser.
class NetworkAccessWebChannelAPI : public WebChannelAPI
{
    Q_OBJECT
public:
    explicit NetworkAccessWebChannelAPI(
        const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device,
        QObject* parent = nullptr);

public Q_SLOTS:
    void copyToClipboard(const QJsonValue& text);
    void openUrl(const QJsonValue& url);

private:
    std::shared_ptr<VornOSRESTConfigurationServerDevice> m_device;
};
