#pragma once

#include "bpfuconnecteddevice.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "timedprogressupdater.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

class BonjourConnectionManager;

// Updates a legacy network recorder over the block protocol: announces the image on a control
// connection, streams it raw to the upload port the recorder names, waits for "Complete" and
// for the recorder to come back after its reboot. GUI thread only.
class BpfuUpdateTask : public DeviceFirmwareUpdater
{
    Q_OBJECT
public:
    enum State {
        Idle,
        Announcing,
        ConnectingUpload,
        UploadingImage,
        Installing,
        WaitingForReboot,
        Finished,
        UpdateFailed
    };

    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kReconnectIntervalMs = 5000;
    static constexpr qint64 kChunkSize = 0x10000;

    BpfuUpdateTask(std::shared_ptr<BonjourConnectionManager> manager,
                   std::shared_ptr<BonjourPotentialDevice> device);
    ~BpfuUpdateTask() override;

    bool checkDevice() override { return m_state == Finished; }
    void start() override;

    int state() const { return m_state; }
    // The sizes handed to the upload socket, in order.
    const std::vector<qint64>& chunkSizes() const { return m_chunks; }
    // Tests shorten these; the product keeps the defaults.
    void setReconnectInterval(int milliseconds) { m_reconnectTimer.setInterval(milliseconds); }
    void setConnectTimeout(int milliseconds) { m_connectTimer.setInterval(milliseconds); }

private:
    void connectDevice();
    void dropDevice();
    void onConnectionStateChanged(ConnectionState state);
    void onUpdateReady(const QHostAddress& address, uint16_t port);
    void onUploadConnected();
    void onBytesWritten(qint64 bytes);
    void onUploadClosed();
    void onStatusChanged(Protocols::FirmwareUpdate::Status status);
    void onProgress(int percent);
    void onConnectTimeout();
    bool writeChunk();
    void finish();
    void fail(const char* why);

    std::shared_ptr<BonjourConnectionManager> m_manager;
    QString m_uniqueId;
    QByteArray m_firmware;
    bool m_firmwareLoaded = false;
    int64_t m_expectedSeconds = 0;
    QTcpSocket m_upload;
    uint64_t m_queued = 0;
    uint64_t m_written = 0;
    std::vector<qint64> m_chunks;
    TimedProgressUpdater m_progress;
    QTimer m_reconnectTimer;
    QTimer m_connectTimer;
    int m_state = Idle;
    std::shared_ptr<BpfuConnectedDevice> m_device;
};
