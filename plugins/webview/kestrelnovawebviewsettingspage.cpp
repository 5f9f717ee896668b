#include "kestrelnovawebviewsettingspage.h"

#include "networkaccesswebchannelapi.h"

KestrelNovaWebViewSettingsPage::KestrelNovaWebViewSettingsPage(
    QWidget* parent, const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device)
    : WebViewSettingsPage(parent, device)
    , m_networkAccess(new NetworkAccessWebChannelAPI(device, this))
{
    registerObject(m_networkAccess);
}
