#include "bpfuupdatetask.h"

#include "bonjourconnectionmanager.h"
#include "getfirmware.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <limits>
#include <optional>

using UpdateStatus = Protocols::FirmwareUpdate::Status;

BpfuUpdateTask::BpfuUpdateTask(std::shared_ptr<BonjourConnectionManager> manager,
                               std::shared_ptr<BonjourPotentialDevice> device)
    : m_manager(std::move(manager))
{
    if (device) {
        m_uniqueId = device->uniqueId();
        // A missing or bad package fails the update when it starts, never the factory.
        try {
            const std::optional<ProductRecord> record = device->productRecord();
            if (!record)
                throw std::runtime_error("no product record");
            m_expectedSeconds = record->arrivalTimeoutSeconds + record->installSeconds;
            m_firmware = getFirmware(record->firmwareFile, device->productId());
            m_firmwareLoaded = uint64_t(m_firmware.size()) <= std::numeric_limits<uint32_t>::max();
        } catch (const std::exception& error) {
            qDebug() << "BPFU Upgrade:" << error.what();
        }
    }
    m_connectTimer.setInterval(kConnectTimeoutMs);
    m_reconnectTimer.setInterval(kReconnectIntervalMs);
    connect(&m_connectTimer, &QTimer::timeout, this, &BpfuUpdateTask::onConnectTimeout);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &BpfuUpdateTask::connectDevice);
    connect(&m_progress, &TimedProgressUpdater::updateProgress, this, &BpfuUpdateTask::onProgress);
    connect(&m_upload, &QTcpSocket::connected, this, &BpfuUpdateTask::onUploadConnected);
    connect(&m_upload, &QTcpSocket::bytesWritten, this, &BpfuUpdateTask::onBytesWritten);
    connect(&m_upload, &QTcpSocket::disconnected, this, &BpfuUpdateTask::onUploadClosed);
    connect(&m_upload, &QTcpSocket::errorOccurred, this, &BpfuUpdateTask::onUploadClosed);
}

BpfuUpdateTask::~BpfuUpdateTask()
{
    m_upload.disconnect(this);
    if (m_device) {
        m_device->disconnect(this);
        m_device->stop();
    }
}

void BpfuUpdateTask::start()
{
    // An update under way is left alone.
    if (m_state != Idle && m_state != Finished && m_state != UpdateFailed)
        return;
    emit firmwareUpdateProgress(-1);
    m_state = Idle;
    if (!m_firmwareLoaded) {
        fail("no firmware image");
        return;
    }
    m_connectTimer.start();
    m_upload.abort();
    m_queued = 0;
    m_written = 0;
    m_chunks.clear();
    connectDevice();
}

void BpfuUpdateTask::connectDevice()
{
    const auto device = m_manager ? m_manager->findKnownByUniqueId(m_uniqueId) : nullptr;
    if (!device)
        return;
    dropDevice();
    m_device = std::make_shared<BpfuConnectedDevice>(device);
    connect(m_device.get(), &BpfuConnectedDevice::connectionStateChanged, this,
            &BpfuUpdateTask::onConnectionStateChanged);
    connect(m_device.get(), &BpfuConnectedDevice::updateReady, this,
            &BpfuUpdateTask::onUpdateReady);
    connect(m_device.get(), &BpfuConnectedDevice::updateStatusChanged, this,
            &BpfuUpdateTask::onStatusChanged);
    device->requestResolve();
}

void BpfuUpdateTask::dropDevice()
{
    if (!m_device)
        return;
    m_device->disconnect(this);
    m_device->stop();
    // We may be inside one of its signals: let it go once that has returned.
    QTimer::singleShot(0, QCoreApplication::instance(), [device = std::move(m_device)] {});
}

void BpfuUpdateTask::onConnectionStateChanged(ConnectionState state)
{
    if (state == Connected) {
        if (m_state == Idle) {
            m_state = Announcing;
            if (!m_device || !m_device->sendFirmwareUpdate(uint32_t(m_firmware.size())))
                fail("announcement not sent");
        } else if (m_state == WaitingForReboot) {
            finish();
        }
        return;
    }
    if (m_state == Installing) {
        m_state = WaitingForReboot;
        dropDevice();
        m_reconnectTimer.start();
    } else if (m_state >= Announcing && m_state <= UploadingImage) {
        // Without the control connection the recorder can no longer report the outcome.
        fail("control connection lost");
    }
}

void BpfuUpdateTask::onUpdateReady(const QHostAddress& address, uint16_t port)
{
    if (m_state != Announcing)
        return;
    m_state = ConnectingUpload;
    m_upload.connectToHost(address, port, QIODevice::ReadWrite);
}

void BpfuUpdateTask::onUploadConnected()
{
    if (m_state != ConnectingUpload)
        return;
    m_state = UploadingImage;
    m_connectTimer.stop();
    // The time limit runs from the upload on, so a recorder that stalls it cannot hold the
    // update for ever.
    m_progress.setPhase(0, 100, m_expectedSeconds * 1000);
    emit m_progress.startProgressTimer(std::chrono::milliseconds(1000));
    if (!writeChunk())
        fail("upload write failed");
}

bool BpfuUpdateTask::writeChunk()
{
    const uint64_t size = uint64_t(m_firmware.size());
    if (m_queued >= size)
        return true;
    const qint64 length = qint64(std::min<uint64_t>(kChunkSize, size - m_queued));
    const qint64 accepted = m_upload.write(m_firmware.constData() + m_queued, length);
    if (accepted < 0)
        return false;
    m_chunks.push_back(accepted);
    m_queued += uint64_t(accepted);
    return true;
}

void BpfuUpdateTask::onBytesWritten(qint64 bytes)
{
    if (m_state != UploadingImage)
        return;
    m_written += uint64_t(bytes);
    const uint64_t size = uint64_t(m_firmware.size());
    if (m_queued <= m_written && !writeChunk()) {
        fail("upload write failed");
        return;
    }
    emit firmwareUpdateProgress(int((m_queued + m_written) * 100 / (2 * size) / 2));
    if (m_written == size)
        m_upload.disconnectFromHost();
}

void BpfuUpdateTask::onUploadClosed()
{
    // Closed by the recorder before it took the whole image.
    if (m_state == UploadingImage && m_written < uint64_t(m_firmware.size()))
        fail("upload connection closed early");
    else if (m_state == ConnectingUpload)
        fail("upload connection refused");
}

void BpfuUpdateTask::onStatusChanged(UpdateStatus status)
{
    if (status == UpdateStatus::Failed) {
        fail("recorder reported failure");
    } else if (status == UpdateStatus::Complete && m_state >= Announcing && m_state <= Installing) {
        m_state = Installing;
        m_progress.setPhase(0, 100, m_expectedSeconds * 1000);
        emit m_progress.startProgressTimer(std::chrono::milliseconds(1000));
    }
}

void BpfuUpdateTask::onProgress(int percent)
{
    if (m_state < UploadingImage || m_state > WaitingForReboot)
        return;
    // 100 only once the recorder is back, never for the wait.
    if (m_state != UploadingImage)
        emit firmwareUpdateProgress(std::min(percent, 98) / 2 + 50);
    if (std::abs(100 - percent) <= 1)
        fail("recorder did not come back in time");
}

void BpfuUpdateTask::onConnectTimeout()
{
    m_connectTimer.stop();
    if (m_state < UploadingImage)
        fail("no upload connection in time");
}

void BpfuUpdateTask::finish()
{
    m_state = Finished;
    m_reconnectTimer.stop();
    emit m_progress.stopProgressTimer();
    dropDevice();
    emit firmwareUpdateProgress(100);
    emit firmwareUpdated(Succeeded);
}

void BpfuUpdateTask::fail(const char* why)
{
    if (m_state == UpdateFailed)
        return;
    qDebug() << "BPFU Upgrade: failed:" << why;
    m_state = UpdateFailed;
    m_connectTimer.stop();
    m_reconnectTimer.stop();
    emit m_progress.stopProgressTimer();
    m_upload.abort();
    dropDevice();
    emit firmwareUpdated(Failed);
}
