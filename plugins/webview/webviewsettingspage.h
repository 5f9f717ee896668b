#pragma once

#include "framework/statuspage.h"

#include <QHostInfo>
#include <QStringList>
#include <QTimer>

#include <memory>

class CardFooter;
class CommonDeviceWebChannelAPI;
class VornOSRESTConfigurationServerDevice;
class WebChannelAPI;
class WebView;

// The card page that shows the device's own web UI, reloading it once a second until the device
// answers, with the footer's Cancel and Save handed to the page.
class WebViewSettingsPage : public StatusPage
{
    Q_OBJECT
public:
    static constexpr int kReloadMs = 1000;

    WebViewSettingsPage(QWidget* parent,
                        const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device);
    ~WebViewSettingsPage() override;

    void registerObject(WebChannelAPI* object);

    WebView* view() const { return m_view; }
    CardFooter* footer() const { return m_footer; }
    QTimer* reloadTimer() { return &m_reloadTimer; }
    QString locallyAccessibleNetworkAddress() const { return m_address; }
    std::shared_ptr<VornOSRESTConfigurationServerDevice> device() const { return m_device; }

Q_SIGNALS:
    void webViewReadyStateChanged(bool ready);
    void locallyAccessibleNetworkAddressChanged(const QString& address);

public Q_SLOTS:
    void startLocallyAccessibleNetworkAddressLookup();
    // Closes the card the page is placed in; nothing outside a card.
    void close();

private Q_SLOTS:
    void hostUrisChanged();
    void deviceHostLookupComplete(const QHostInfo& host);

private:
    void reload();
    void lookUpFirstCandidate();

    std::shared_ptr<VornOSRESTConfigurationServerDevice> m_device;
    CommonDeviceWebChannelAPI* m_api;
    WebView* m_view;
    CardFooter* m_footer;
    QTimer m_reloadTimer;
    QString m_address;
    QStringList m_candidates;
    int m_lookupId = -1;
    bool m_lookupPending = false;
};
