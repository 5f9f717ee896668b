#pragma once

#include "vornosrestconfigurationserverdevice.h"

// The plug-in's connected device: its settings page also publishes the network-access object,
// and listeners learn when the ways of reaching the recorder change.
class KestrelNovaWebViewConnectedDevice : public VornOSRESTConfigurationServerDevice
{
    Q_OBJECT
public:
    KestrelNovaWebViewConnectedDevice(NovaVisibleDevice* visibleDevice,
                                      const std::shared_ptr<PotentialDevice>& potentialDevice);

    WebViewSettingsPage* createSettingsPage(NovaProductCard* card) override;

Q_SIGNALS:
    void potentialDeviceListChanged();
};
