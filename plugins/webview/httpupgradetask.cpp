#include "httpupgradetask.h"

#include "bonjourconnectionmanager.h"
#include "firmwarereply.h"
#include "getfirmware.h"

#include <QDebug>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <optional>

namespace {

QString errorName(QNetworkReply::NetworkError error)
{
    return QString::fromLatin1(
        QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error));
}

// A reply body, read no further than the parser would take it: one byte past the limit tells
// it that the body is too large.
QByteArray replyBody(QNetworkReply* reply)
{
    return reply->read(FirmwareReply::kMaxBytes + 1);
}

// Requests to the recorder stay on the recorder: a redirect elsewhere is not followed.
void keepOnDevice(QNetworkAccessManager* network)
{
    network->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
}

} // namespace

HttpUpgradeTask::HttpUpgradeTask(std::shared_ptr<BonjourConnectionManager> manager,
                                 std::shared_ptr<BonjourPotentialDevice> device)
    : m_manager(std::move(manager))
    , m_network(new QNetworkAccessManager(this))
{
    keepOnDevice(m_network);
    m_resolveTimer.setInterval(kResolveTimeoutMs);
    m_resolveTimer.setSingleShot(true);
    m_rebootPollTimer.setInterval(kRebootPollMs);
    connect(&m_resolveTimer, &QTimer::timeout, this, &HttpUpgradeTask::onDeviceResolveFailed);
    connect(&m_progress, &TimedProgressUpdater::updateProgress, this,
            &HttpUpgradeTask::onRebootProgress);
    connect(&m_rebootPollTimer, &QTimer::timeout, this, &HttpUpgradeTask::contactDevice);
    setDevice(std::move(device));
    if (m_device)
        m_uniqueId = m_device->uniqueId();
}

HttpUpgradeTask::~HttpUpgradeTask() = default;

void HttpUpgradeTask::setDevice(std::shared_ptr<BonjourPotentialDevice> device)
{
    if (m_device)
        disconnect(m_device.get(), nullptr, this, nullptr);
    m_device = std::move(device);
    if (!m_device)
        return;
    connect(m_device.get(), &BonjourPotentialDevice::resolved, this,
            &HttpUpgradeTask::onDeviceResolved);
    connect(m_device.get(), &BonjourPotentialDevice::failedToResolve, this,
            &HttpUpgradeTask::onDeviceResolveFailed);
}

void HttpUpgradeTask::start()
{
    // An update under way is left alone: reading the package or failing now would disturb it.
    if (m_state != Idle && m_state != Finished && m_state != UpdateFailed)
        return;
    m_updateStarted = false;
    qDebug() << "HTTP Upgrade: Getting device firmware.";
    try {
        if (!m_device)
            throw std::runtime_error("no device");
        const std::optional<ProductRecord> record = m_device->productRecord();
        if (!record)
            throw std::runtime_error("no product record");
        m_payload = getFirmware(record->firmwareFile, m_device->productId());
    } catch (const std::exception& error) {
        qDebug() << "HTTP Upgrade: Failed to read device firmware payload." << error.what();
        fail(Failed);
        return;
    }
    resolve([this] { requestUpdateStart(); }, [this] { fail(Failed); });
}

void HttpUpgradeTask::resolve(std::function<void()> onResolved,
                              std::function<void()> onResolveFailed)
{
    qDebug() << "HTTP Upgrade: Resolving device address...";
    m_onResolved = std::move(onResolved);
    m_onResolveFailed = std::move(onResolveFailed);
    m_state = Resolving;
    m_resolveTimer.start();
    m_device->requestResolve();
}

void HttpUpgradeTask::onDeviceResolved(const AddressAndPortPairs& addresses)
{
    if (addresses.empty() || m_state != Resolving)
        return;
    m_address = QHostAddress(QString::fromStdString(addresses.front().first));
    m_resolveTimer.stop();
    if (m_onResolved)
        m_onResolved();
}

void HttpUpgradeTask::onDeviceResolveFailed()
{
    // Late answers of a resolution already settled change nothing.
    if (m_state != Resolving)
        return;
    m_resolveTimer.stop();
    if (m_onResolveFailed)
        m_onResolveFailed();
}

QUrl HttpUpgradeTask::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://%1/admin/api%2").arg(m_address.toString(), path));
}

QNetworkReply* HttpUpgradeTask::put(const QString& path, const QByteArray& body,
                                    const QByteArray& contentType)
{
    QNetworkRequest request(url(path));
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply* reply = m_network->put(request, body);
    if (reply)
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    return reply;
}

void HttpUpgradeTask::requestUpdateStart()
{
    m_state = StartRequested;
    qDebug() << "HTTP Upgrade: Requesting update filename...";
    QNetworkReply* reply = put(QStringLiteral("/v1/firmware/updateStart"));
    if (!reply) {
        qDebug() << "HTTP Upgrade: Error (no response) after update start attempt.";
        fail(Failed);
        return;
    }
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onUpdateStartReply(reply); });
}

void HttpUpgradeTask::onUpdateStartReply(QNetworkReply* reply)
{
    if (m_state != StartRequested)
        return;
    const QNetworkReply::NetworkError error = reply->error();
    if (error != QNetworkReply::NoError) {
        qDebug().noquote() << "HTTP Upgrade: Error response " + errorName(error) + "(" +
                                  reply->errorString() + ") after update start attempt.";
        const bool refused = error == QNetworkReply::ContentAccessDenied ||
                             error == QNetworkReply::AuthenticationRequiredError;
        fail(refused ? RemoteUpdatesDisabled : Failed);
        return;
    }
    const FirmwareReply start = FirmwareReply::parseUpdateStart(replyBody(reply));
    if (start.outcome == FirmwareReply::NotJson) {
        qDebug().noquote() << "HTTP Upgrade: Device did not send a valid update start response (" +
                                  start.error + ").";
        fail(Failed);
        return;
    }
    m_updateStarted = true;
    if (start.outcome != FirmwareReply::Ok) {
        qDebug().noquote() << "HTTP Upgrade: Device did not give an upload filename (" +
                                  start.error + ").";
        fail(Failed);
        return;
    }
    const QString name = start.value;
    m_state = Uploading;
    qDebug().noquote() << "HTTP Upgrade: Received update filename " + name +
                              ", uploading firmware...";
    QNetworkReply* upload = put(QStringLiteral("/v1/firmware/upload/") + name, m_payload,
                                QByteArrayLiteral("binary/octet-stream"));
    if (!upload) {
        qDebug() << "HTTP Upgrade: Error (no response) after firmware upload.";
        fail(Failed);
        return;
    }
    connect(upload, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64 total) {
        if (m_state != Uploading || sent == 0 || total == 0)
            return;
        const double percent = double(sent) * 100 / double(total) * 0.5;
        emit firmwareUpdateProgress(int(std::clamp(percent, 0.0, 50.0)));
    });
    connect(upload, &QNetworkReply::finished, this, [this, upload] { onUploadReply(upload); });
}

void HttpUpgradeTask::onUploadReply(QNetworkReply* reply)
{
    if (m_state != Uploading)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << "HTTP Upgrade: Error response " + errorName(reply->error()) + "(" +
                                  reply->errorString() + ") after firmware upload.";
        fail(Failed);
        return;
    }
    qDebug() << "HTTP Upgrade: Finished update, requesting finalize...";
    m_state = FinalizeRequested;
    QNetworkReply* finalize = put(QStringLiteral("/v1/firmware/updateFinalize"));
    if (!finalize) {
        qDebug() << "HTTP Upgrade: Error (no response) after firmware finalize request.";
        fail(Failed);
        return;
    }
    connect(finalize, &QNetworkReply::finished, this,
            [this, finalize] { onFinalizeReply(finalize); });
}

void HttpUpgradeTask::onFinalizeReply(QNetworkReply* reply)
{
    if (m_state != FinalizeRequested)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << "HTTP Upgrade: Error response " + errorName(reply->error()) + "(" +
                                  reply->errorString() + ") after firmware finalize request.";
        fail(Failed);
        return;
    }
    qDebug() << "HTTP Upgrade: Device confirmed finalize, waiting for device to reboot...";
    m_state = WaitingForReboot;
    const std::optional<ProductRecord> record = m_device ? m_device->productRecord() : std::nullopt;
    const int64_t seconds = record ? record->installSeconds + record->arrivalTimeoutSeconds : 0;
    m_progress.setPhase(0, 100, seconds * 1000);
    emit m_progress.startProgressTimer(std::chrono::milliseconds(1000));
    m_rebootPollTimer.start();
}

void HttpUpgradeTask::onRebootProgress(int percent)
{
    // The whole reboot wait, also while a poll resolves the recorder: the wait's end is told
    // once, and missed it would leave the update waiting for a recorder that never comes back.
    if (!m_rebootPollTimer.isActive())
        return;
    // 100 only once the recorder answers with its new version, never for the wait.
    emit firmwareUpdateProgress(50 + int(std::clamp(percent * 0.5, 0.0, 49.0)));
    if (std::abs(100 - percent) <= 1) {
        qDebug() << "HTTP Upgrade: Timed out waiting for device to reboot.";
        fail(Failed);
    }
}

void HttpUpgradeTask::contactDevice()
{
    if (m_state != WaitingForReboot)
        return;
    qDebug() << "HTTP Upgrade: Attempting to contact device...";
    // A fresh manager: connections to the recorder from before its reboot are dead.
    m_network->deleteLater();
    m_network = new QNetworkAccessManager(this);
    keepOnDevice(m_network);
    const auto device = m_manager ? m_manager->findKnownByUniqueId(m_uniqueId) : nullptr;
    if (!device)
        return;
    setDevice(device);
    resolve([this] { queryFirmwareInfo(); }, [this] { m_state = WaitingForReboot; });
}

void HttpUpgradeTask::queryFirmwareInfo()
{
    m_state = WaitingForReboot;
    QNetworkReply* reply =
        m_network->get(QNetworkRequest(url(QStringLiteral("/v1/firmware/info"))));
    if (!reply)
        return;
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QTimer::singleShot(kInfoTimeoutMs, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFirmwareInfoReply(reply); });
}

void HttpUpgradeTask::onFirmwareInfoReply(QNetworkReply* reply)
{
    // The recorder is expected to be away while it reboots.
    if (m_state != WaitingForReboot || reply->error() != QNetworkReply::NoError)
        return;
    const FirmwareReply info = FirmwareReply::parseFirmwareInfo(replyBody(reply));
    if (info.outcome == FirmwareReply::NotJson) {
        qDebug().noquote() << "HTTP Upgrade: Device did not send a valid firmware info response (" +
                                  info.error + ").";
        fail(Failed);
        return;
    }
    if (info.outcome != FirmwareReply::Ok) {
        qDebug().noquote() << "HTTP Upgrade: Device did not give a software version (" +
                                  info.error + ").";
        fail(Failed);
        return;
    }
    const QString received = info.value;
    const std::optional<ProductRecord> record = m_device ? m_device->productRecord() : std::nullopt;
    const QString expected = record ? record->firmwareBuild.toLower() : QString();
    qDebug().noquote() << "HTTP Upgrade: Received version " + received + ", expecting version " +
                              expected;
    if (received.toLower() != expected)
        return;
    m_state = Finished;
    qDebug() << "HTTP Upgrade: Update process finished.";
    emit m_progress.stopProgressTimer();
    m_rebootPollTimer.stop();
    emit firmwareUpdateProgress(100);
    emit firmwareUpdated(Succeeded);
}

void HttpUpgradeTask::fail(int status)
{
    m_state = UpdateFailed;
    m_resolveTimer.stop();
    m_rebootPollTimer.stop();
    emit m_progress.stopProgressTimer();
    qDebug() << "HTTP Upgrade: Update process failed.";
    // Only an update the recorder acknowledged is there to be stopped.
    if (m_updateStarted)
        put(QStringLiteral("/v1/firmware/updateStop"));
    m_updateStarted = false;
    emit firmwareUpdated(status);
}
