#pragma once

#include "webviewsettingspage.h"

class NetworkAccessWebChannelAPI;

// The plug-in's settings page: the device's web UI also reaches the clipboard and the browser.
class KestrelNovaWebViewSettingsPage : public WebViewSettingsPage
{
    Q_OBJECT
public:
    KestrelNovaWebViewSettingsPage(
        QWidget* parent, const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device);

    NetworkAccessWebChannelAPI* networkAccess() const { return m_networkAccess; }

private:
    NetworkAccessWebChannelAPI* m_networkAccess;
};
