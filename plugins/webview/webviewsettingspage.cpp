#include "webviewsettingspage.h"

#include "commondevicewebchannelapi.h"
#include "framework/cardfooter.h"
#include "framework/productcard.h"
#include "vornosrestconfigurationserverdevice.h"
#include "webview.h"
#include "webviewpage.h"

#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineProfile>

WebViewSettingsPage::WebViewSettingsPage(
    QWidget* parent, const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device)
    : StatusPage(parent)
    , m_device(device)
    , m_api(new CommonDeviceWebChannelAPI(device, this))
    , m_view(new WebView(this))
    , m_footer(new CardFooter(this))
{
    m_footer->setSettingsButtonVisible(false);
    registerObject(m_api);

    connect(m_view, &WebView::readyStateChanged, this,
            &WebViewSettingsPage::webViewReadyStateChanged);
    connect(m_view->page(), &QWebEnginePage::windowCloseRequested, this,
            &WebViewSettingsPage::close);
    connect(m_footer, &CardFooter::cancelPressed, m_api,
            &CommonDeviceWebChannelAPI::settingsCancelClicked);
    connect(m_footer, &CardFooter::savePressed, m_api,
            &CommonDeviceWebChannelAPI::settingsSaveClicked);
    connect(device.get(), &VornOSRESTConfigurationServerDevice::deviceHostUrisChanged, this,
            &WebViewSettingsPage::hostUrisChanged);
    connect(device.get(), &VornOSRESTConfigurationServerDevice::deviceHostnameChanged, this,
            &WebViewSettingsPage::startLocallyAccessibleNetworkAddressLookup);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_footer);

    m_reloadTimer.setSingleShot(false);
    m_reloadTimer.setInterval(kReloadMs);
    connect(&m_reloadTimer, &QTimer::timeout, this, &WebViewSettingsPage::reload);
    connect(m_view, &QWebEngineView::loadProgress, this, [this](int progress) {
        if (progress != 0)
            m_reloadTimer.stop();
    });
    // The card has no way back, and a page may close its window only while it has no history:
    // neither the loads that found the device nor the page's own navigation leave any.
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (ok)
            m_view->history()->clear();
    });
    // A failed load goes back to reloading, so a device that drops out comes back by itself.
    connect(m_view, &WebView::readyStateChanged, this, [this](bool ready) {
        if (!ready)
            m_reloadTimer.start();
    });

    m_view->page()->profile()->clearHttpCache();
    m_reloadTimer.start();
    startLocallyAccessibleNetworkAddressLookup();
}

WebViewSettingsPage::~WebViewSettingsPage()
{
    if (m_lookupPending)
        QHostInfo::abortHostLookup(m_lookupId);
}

void WebViewSettingsPage::registerObject(WebChannelAPI* object)
{
    m_view->webViewPage()->registerObject(object);
}

void WebViewSettingsPage::close()
{
    // The card is drawn inside the program's window, not a window of its own: the top-level
    // window here is the program's, and closing it would end the program.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (qobject_cast<ProductCard*>(w)) {
            w->close();
            return;
        }
    }
}

void WebViewSettingsPage::reload()
{
    const QUrl url = m_device->adminUrl();
    m_reloadTimer.start();
    if (!url.isEmpty())
        m_view->load(url);
}

void WebViewSettingsPage::hostUrisChanged()
{
    m_view->page()->profile()->clearHttpCache();
    m_reloadTimer.start();
}

void WebViewSettingsPage::startLocallyAccessibleNetworkAddressLookup()
{
    if (m_lookupPending) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupPending = false;
    }
    m_candidates.clear();
    if (!m_device->hostname().isEmpty())
        m_candidates.append(m_device->hostname());
    const QString host = m_device->host();
    if (!host.isEmpty() && host != QLatin1String("127.0.0.1"))
        m_candidates.append(host);
    lookUpFirstCandidate();
}

void WebViewSettingsPage::lookUpFirstCandidate()
{
    if (m_candidates.isEmpty()) {
        m_address = QString();
        emit locallyAccessibleNetworkAddressChanged(m_address);
        return;
    }
    m_lookupId = QHostInfo::lookupHost(m_candidates.first(), this,
                                       &WebViewSettingsPage::deviceHostLookupComplete);
    m_lookupPending = true;
}

void WebViewSettingsPage::deviceHostLookupComplete(const QHostInfo& host)
{
    m_lookupPending = false;
    if (host.error() == QHostInfo::NoError && !host.addresses().isEmpty()) {
        m_address = m_candidates.first();
        emit locallyAccessibleNetworkAddressChanged(m_address);
        return;
    }
    m_candidates.removeFirst();
    lookUpFirstCandidate();
}
