#pragma once

#include "bonjourpotentialdevice.h"
#include "connecteddevice.h"

#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUrl>

class QNetworkReply;
class WebViewSettingsPage;

// A recorder reached through its built-in configuration web server: its web UI under "/admin/"
// and a REST API under "/admin/api". Resolves the address, judges the connection by a
// heartbeat and offers the device's diagnostic logs. GUI thread only.
class VornOSRESTConfigurationServerDevice : public ConnectedDevice
{
    Q_OBJECT
public:
    static constexpr int kResolveAttempts = 15;
    static constexpr int kResolveRetryMs = 1000;
    static constexpr int kHeartbeatMs = 500;
    static constexpr int kConnectedHeartbeatMs = 1000;
    static constexpr int kMaxHeartbeatFailures = 5;
    static constexpr int kCrashlogTimeoutMs = 10000;
    // Diagnostic logs are streamed to their file; a device sending more than this is stopped.
    static constexpr qint64 kMaxCrashlogBytes = qint64(256) << 20;

    VornOSRESTConfigurationServerDevice(NovaVisibleDevice* visibleDevice,
                                        const std::shared_ptr<PotentialDevice>& potentialDevice);
    ~VornOSRESTConfigurationServerDevice() override;

    QString description() override;
    void populateCard(NovaProductCard* card) override;
    virtual QUrl apiUrl(const QString& path);
    virtual QUrl adminUrl();
    // The page that shows the device's web UI, under the card.
    virtual WebViewSettingsPage* createSettingsPage(NovaProductCard* card);

    void setName(const QString& name);
    void setHostname(const QString& hostname);
    void openUrl(const QUrl& url);

    QString host() const { return m_host; }
    uint16_t port() const { return m_port; }
    QString hostname() const { return m_hostname; }
    int heartbeatFailures() const { return m_failures; }
    QTimer* pollTimer() { return &m_pollTimer; }
    // Tests lower the diagnostic-log limit; the product keeps the default.
    void setCrashlogLimit(qint64 bytes) { m_crashlogLimit = bytes; }

public Q_SLOTS:
    void downloadCrashlogs() { onCrashlogDownloadRequested(); }
    void eraseCrashlogs() { onCrashlogEraseRequested(); }
    void openInBrowser() { onOpenInBrowserRequested(); }

Q_SIGNALS:
    void deviceNameChanged();
    void deviceHostnameChanged();
    void deviceHostUrisChanged();
    // The diagnostic-log file that was written whole.
    void crashlogsSaved(const QString& path);

protected:
    // The user-facing boxes and the download folder, so they can be answered without a person.
    virtual void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text);
    virtual bool confirm(const QString& title, const QString& text);
    virtual QString downloadFolder();
    virtual bool openInDesktop(const QUrl& url);

private Q_SLOTS:
    void onPollTimerExpired();
    void onHeartBeatFinished();
    void onCrashlogDownloadRequested();
    void onCrashlogEraseRequested();
    void onCrashlogEraseFinished();
    void onOpenInBrowserRequested();
    void onBonjourDeviceResolved(AddressAndPortPairs resolutions);
    void onBonjourDeviceFailedToResolve();

private:
    struct CrashlogDownload;
    void storeCrashlogBytes(QNetworkReply* reply, CrashlogDownload& download);
    void onCrashlogDownloadFinished(QNetworkReply* reply, CrashlogDownload& download);
    QNetworkReply* send(const QByteArray& verb, const QUrl& url, int timeoutMs, bool high);

    QNetworkAccessManager m_network;
    QTimer m_pollTimer;
    int m_resolveAttempts = kResolveAttempts;
    bool m_resolutionTaken = false;
    QString m_host;
    uint16_t m_port = 0;
    uint16_t m_failures = 0;
    QString m_hostname;
    qint64 m_crashlogLimit = kMaxCrashlogBytes;
};
