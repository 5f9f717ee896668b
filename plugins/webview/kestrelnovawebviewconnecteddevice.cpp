#include "kestrelnovawebviewconnecteddevice.h"

#include "kestrelnovawebviewsettingspage.h"
#include "novaproductcard.h"
#include "novavisibledevice.h"

KestrelNovaWebViewConnectedDevice::KestrelNovaWebViewConnectedDevice(
    NovaVisibleDevice* visibleDevice, const std::shared_ptr<PotentialDevice>& potentialDevice)
    : VornOSRESTConfigurationServerDevice(visibleDevice, potentialDevice)
{
    if (visibleDevice)
        connect(visibleDevice, &NovaVisibleDevice::potentialDeviceListChanged, this,
                &KestrelNovaWebViewConnectedDevice::potentialDeviceListChanged);
}

WebViewSettingsPage* KestrelNovaWebViewConnectedDevice::createSettingsPage(NovaProductCard* card)
{
    return new KestrelNovaWebViewSettingsPage(
        card, std::static_pointer_cast<VornOSRESTConfigurationServerDevice>(shared_from_this()));
}
