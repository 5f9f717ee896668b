#include "vornosrestconfigurationserverdevice.h"

#include "framework/connectingstatuspage.h"
#include "novaproductcard.h"
#include "novavisibledevice.h"
#include "potentialdevice.h"
#include "webview.h"
#include "webviewsettingspage.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStyle>

namespace {

const QString kDownloadTitle = QStringLiteral("Diagnostic Log Download");
const QString kEraseTitle = QStringLiteral("Diagnostic Log Erase");

} // namespace

// One diagnostic-log download: its file, written as the bytes arrive.
struct VornOSRESTConfigurationServerDevice::CrashlogDownload
{
    QString path;
    QSaveFile file;
    qint64 received = 0;
    bool writeFailed = false;
    bool tooLarge = false;

    explicit CrashlogDownload(const QString& name)
        : path(name)
        , file(name)
    {
    }
};

VornOSRESTConfigurationServerDevice::VornOSRESTConfigurationServerDevice(
    NovaVisibleDevice* visibleDevice, const std::shared_ptr<PotentialDevice>& potentialDevice)
    : ConnectedDevice(visibleDevice, potentialDevice)
{
    qRegisterMetaType<AddressAndPortPairs>();
    setState(Connecting);
    m_network.setAutoDeleteReplies(true);
    // Requests to the device stay on the device: a redirect to another host is not followed.
    m_network.setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    connect(&m_pollTimer, &QTimer::timeout, this,
            &VornOSRESTConfigurationServerDevice::onPollTimerExpired);
    m_pollTimer.setSingleShot(false);

    auto* bonjour = dynamic_cast<BonjourPotentialDevice*>(potentialDevice.get());
    if (bonjour) {
        connect(bonjour, &BonjourPotentialDevice::resolved, this,
                &VornOSRESTConfigurationServerDevice::onBonjourDeviceResolved);
        connect(bonjour, &BonjourPotentialDevice::failedToResolve, this,
                &VornOSRESTConfigurationServerDevice::onBonjourDeviceFailedToResolve);
    }
    if (!potentialDevice)
        return;
    const std::string host = potentialDevice->host();
    if (!host.empty())
        onBonjourDeviceResolved({{host, potentialDevice->port()}});
    else
        potentialDevice->requestResolve();
}

VornOSRESTConfigurationServerDevice::~VornOSRESTConfigurationServerDevice() = default;

QString VornOSRESTConfigurationServerDevice::description()
{
    return QStringLiteral("WebView via %1, %2:%3")
        .arg(connectionType() == PotentialDevice::kUsb ? QStringLiteral("USB")
                                                       : QStringLiteral("Ethernet"))
        .arg(m_host)
        .arg(m_port);
}

QUrl VornOSRESTConfigurationServerDevice::adminUrl()
{
    if (m_host.isEmpty())
        return {};
    return QUrl(QStringLiteral("http://%1:%2/admin/").arg(m_host).arg(m_port));
}

QUrl VornOSRESTConfigurationServerDevice::apiUrl(const QString& path)
{
    QUrl url = adminUrl();
    if (url.isEmpty())
        return {};
    url.setPath(url.path(QUrl::FullyDecoded) + QStringLiteral("api") + path);
    return url;
}

void VornOSRESTConfigurationServerDevice::populateCard(NovaProductCard* card)
{
    auto* connecting = new ConnectingStatusPage(card);
    connect(connecting, &ConnectingStatusPage::connectionCancelled, card, &QWidget::close);
    card->addPage(connecting);
    WebViewSettingsPage* settings = createSettingsPage(card);
    card->addPage(settings);

    QMenu* menu = card->deviceActionsMenu();
    QStyle* style = card->style();
    menu->addSeparator();
    connect(menu->addAction(style->standardIcon(QStyle::SP_DialogSaveButton),
                            QStringLiteral("Download Diagnostic Logs")),
            &QAction::triggered, this,
            &VornOSRESTConfigurationServerDevice::onCrashlogDownloadRequested);
    connect(menu->addAction(style->standardIcon(QStyle::SP_DialogResetButton),
                            QStringLiteral("Erase Diagnostic Logs")),
            &QAction::triggered, this,
            &VornOSRESTConfigurationServerDevice::onCrashlogEraseRequested);
    menu->addSeparator();
    connect(menu->addAction(style->standardIcon(QStyle::SP_DesktopIcon),
                            QStringLiteral("Open In Browser")),
            &QAction::triggered, this,
            &VornOSRESTConfigurationServerDevice::onOpenInBrowserRequested);

    connect(settings, &WebViewSettingsPage::webViewReadyStateChanged, card,
            [card, settings, connecting](bool ready) {
                card->showPage(ready ? static_cast<StatusPage*>(settings) : connecting);
            });
    card->showPage(settings->view()->isReady() ? static_cast<StatusPage*>(settings) : connecting);
    connect(this, &VornOSRESTConfigurationServerDevice::deviceNameChanged, card,
            &NovaProductCard::refreshDeviceName, Qt::UniqueConnection);
}

WebViewSettingsPage* VornOSRESTConfigurationServerDevice::createSettingsPage(NovaProductCard* card)
{
    return new WebViewSettingsPage(
        card, std::static_pointer_cast<VornOSRESTConfigurationServerDevice>(shared_from_this()));
}

void VornOSRESTConfigurationServerDevice::setName(const QString& name)
{
    if (NovaVisibleDevice* device = visibleDevice())
        device->setDisplayName(name);
    emit deviceNameChanged();
}

void VornOSRESTConfigurationServerDevice::setHostname(const QString& hostname)
{
    m_hostname = hostname;
    emit deviceHostnameChanged();
}

void VornOSRESTConfigurationServerDevice::openUrl(const QUrl& url)
{
    // Only web addresses leave for the desktop: a page must not make it open files or programs.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qWarning().noquote() << QStringLiteral("Invalid URL specified to open: ") + url.toString();
        return;
    }
    openInDesktop(url);
}

void VornOSRESTConfigurationServerDevice::showMessage(QMessageBox::Icon icon, const QString& title,
                                                      const QString& text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.exec();
}

bool VornOSRESTConfigurationServerDevice::confirm(const QString& title, const QString& text)
{
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No) !=
           QMessageBox::No;
}

QString VornOSRESTConfigurationServerDevice::downloadFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

bool VornOSRESTConfigurationServerDevice::openInDesktop(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

QNetworkReply* VornOSRESTConfigurationServerDevice::send(const QByteArray& verb, const QUrl& url,
                                                         int timeoutMs, bool high)
{
    QNetworkRequest request(url);
    if (high)
        request.setPriority(QNetworkRequest::HighPriority);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = m_network.sendCustomRequest(request, verb);
    QTimer::singleShot(timeoutMs, reply, &QNetworkReply::abort);
    return reply;
}

void VornOSRESTConfigurationServerDevice::onBonjourDeviceResolved(AddressAndPortPairs resolutions)
{
    if (m_resolutionTaken)
        return;
    m_resolutionTaken = true;
    if (!resolutions.empty()) {
        m_host = QString::fromStdString(resolutions.front().first);
        m_port = resolutions.front().second;
        emit deviceHostUrisChanged();
        if (!m_host.isEmpty()) {
            m_failures = 0;
            m_pollTimer.start(0);
        } else {
            m_pollTimer.stop();
        }
        return;
    }
    qWarning() << "Received empty bonjour resolution!";
    --m_resolveAttempts;
    auto* bonjour = qobject_cast<BonjourPotentialDevice*>(sender());
    if (m_resolveAttempts > 0 && bonjour) {
        m_resolutionTaken = false;
        QTimer::singleShot(kResolveRetryMs, bonjour, [bonjour] { bonjour->requestResolve(); });
    } else {
        setState(Interrupted);
    }
}

void VornOSRESTConfigurationServerDevice::onBonjourDeviceFailedToResolve()
{
    --m_resolveAttempts;
    auto* bonjour = qobject_cast<BonjourPotentialDevice*>(sender());
    if (m_resolveAttempts > 0 && bonjour) {
        QTimer::singleShot(kResolveRetryMs, bonjour, [bonjour] { bonjour->requestResolve(); });
    } else {
        m_resolutionTaken = false;
        setState(Interrupted);
    }
}

void VornOSRESTConfigurationServerDevice::onPollTimerExpired()
{
    const int interval = state() == Connected ? kConnectedHeartbeatMs : kHeartbeatMs;
    m_pollTimer.setInterval(interval);
    const QUrl url = apiUrl(QStringLiteral("/v1/heartBeat"));
    if (!url.isValid() || url.isEmpty())
        return;
    QNetworkReply* reply = send("GET", url, interval, true);
    connect(reply, &QNetworkReply::finished, this,
            &VornOSRESTConfigurationServerDevice::onHeartBeatFinished);
}

void VornOSRESTConfigurationServerDevice::onHeartBeatFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (reply && reply->error() == QNetworkReply::NoError) {
        m_failures = 0;
        setState(Connected);
        return;
    }
    m_failures = qMin<uint16_t>(m_failures + 1, kMaxHeartbeatFailures);
    if (m_failures == kMaxHeartbeatFailures)
        setState(Interrupted);
}

void VornOSRESTConfigurationServerDevice::onCrashlogDownloadRequested()
{
    const QUrl url = apiUrl(QStringLiteral("/v1/crashlogs"));
    if (!url.isValid() || url.isEmpty())
        return;
    const QString path =
        QStringLiteral("%1/DiagnosticLogs-%2.enc")
            .arg(downloadFolder(),
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    auto download = std::make_shared<CrashlogDownload>(path);
    if (!download->file.open(QIODevice::WriteOnly)) {
        showMessage(QMessageBox::Critical, kDownloadTitle,
                    QStringLiteral("Failed to write diagnostic logs to: '%1'.").arg(path));
        return;
    }
    QNetworkReply* reply = send("GET", url, kCrashlogTimeoutMs, false);
    connect(reply, &QNetworkReply::readyRead, this,
            [this, reply, download] { storeCrashlogBytes(reply, *download); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, download] {
        storeCrashlogBytes(reply, *download);
        onCrashlogDownloadFinished(reply, *download);
    });
}

void VornOSRESTConfigurationServerDevice::storeCrashlogBytes(QNetworkReply* reply,
                                                             CrashlogDownload& download)
{
    if (download.writeFailed || download.tooLarge)
        return;
    const QByteArray bytes = reply->readAll();
    download.received += bytes.size();
    if (download.received > m_crashlogLimit)
        download.tooLarge = true;
    else if (download.file.write(bytes) != bytes.size())
        download.writeFailed = true;
    // Aborting finishes the reply, which reports the failure.
    if ((download.tooLarge || download.writeFailed) && reply->isRunning())
        reply->abort();
}

void VornOSRESTConfigurationServerDevice::onCrashlogDownloadFinished(QNetworkReply* reply,
                                                                     CrashlogDownload& download)
{
    // Reported as saved only once every byte is on disk; otherwise no file is left behind.
    const auto fail = [this, &download](const QString& text) {
        download.file.cancelWriting();
        download.file.commit(); // removes the partial file
        showMessage(QMessageBox::Critical, kDownloadTitle, text);
    };
    if (download.tooLarge) {
        fail(QStringLiteral("Diagnostic logs from device exceed %1; download stopped.")
                 .arg(QLocale::c().formattedDataSize(m_crashlogLimit, 0)));
        return;
    }
    if (!download.writeFailed && reply->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("Failed to download diagnostic logs from device."));
        return;
    }
    const QString writeFailed =
        QStringLiteral("Failed to write diagnostic logs to: '%1'.").arg(download.path);
    if (download.writeFailed) {
        fail(writeFailed);
        return;
    }
    if (!download.file.commit()) {
        showMessage(QMessageBox::Critical, kDownloadTitle, writeFailed);
        return;
    }
    emit crashlogsSaved(download.path);
    showMessage(QMessageBox::Information, kDownloadTitle,
                QStringLiteral("Diagnostic logs downloaded to: '%1'.").arg(download.path));
}

void VornOSRESTConfigurationServerDevice::onCrashlogEraseRequested()
{
    if (!confirm(QStringLiteral("Diagnostic Log Delete"),
                 QStringLiteral("Are you sure you want to erase all diagnostic logs on device?")))
        return;
    const QUrl url = apiUrl(QStringLiteral("/v1/crashlogs"));
    if (!url.isValid() || url.isEmpty())
        return;
    QNetworkReply* reply = send("DELETE", url, kCrashlogTimeoutMs, false);
    connect(reply, &QNetworkReply::finished, this,
            &VornOSRESTConfigurationServerDevice::onCrashlogEraseFinished);
}

void VornOSRESTConfigurationServerDevice::onCrashlogEraseFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (reply && reply->error() == QNetworkReply::NoError)
        showMessage(QMessageBox::Information, kEraseTitle,
                    QStringLiteral("Diagnostic logs erased."));
    else
        showMessage(QMessageBox::Critical, kEraseTitle,
                    QStringLiteral("Failed to erase diagnostic logs from device."));
}

void VornOSRESTConfigurationServerDevice::onOpenInBrowserRequested()
{
    openUrl(adminUrl());
}
