#pragma once

#include "bonjourpotentialdevice.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "timedprogressupdater.h"

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class BonjourConnectionManager;
class QNetworkAccessManager;
class QNetworkReply;

// Updates a network recorder through its REST firmware endpoints: update start, upload,
// finalize, then polls the recorder until it reports the expected build after its reboot. GUI
// thread only.
class HttpUpgradeTask : public DeviceFirmwareUpdater
{
    Q_OBJECT
public:
    enum State {
        Idle,
        Resolving,
        StartRequested,
        Uploading,
        FinalizeRequested,
        WaitingForReboot,
        Finished,
        UpdateFailed
    };

    static constexpr int kResolveTimeoutMs = 5000;
    static constexpr int kRebootPollMs = 2000;
    static constexpr int kInfoTimeoutMs = 2000;

    HttpUpgradeTask(std::shared_ptr<BonjourConnectionManager> manager,
                    std::shared_ptr<BonjourPotentialDevice> device);
    ~HttpUpgradeTask() override;

    bool checkDevice() override { return m_state == Finished; }
    void start() override;

    int state() const { return m_state; }
    // Tests shorten the reboot poll; the product keeps the default.
    void setRebootPollInterval(int milliseconds) { m_rebootPollTimer.setInterval(milliseconds); }

private:
    void setDevice(std::shared_ptr<BonjourPotentialDevice> device);
    void resolve(std::function<void()> onResolved, std::function<void()> onResolveFailed);
    void onDeviceResolved(const AddressAndPortPairs& addresses);
    void onDeviceResolveFailed();
    void requestUpdateStart();
    void onUpdateStartReply(QNetworkReply* reply);
    void onUploadReply(QNetworkReply* reply);
    void onFinalizeReply(QNetworkReply* reply);
    void onRebootProgress(int percent);
    void contactDevice();
    void queryFirmwareInfo();
    void onFirmwareInfoReply(QNetworkReply* reply);
    void fail(int status);
    QNetworkReply* put(const QString& path, const QByteArray& body = {},
                       const QByteArray& contentType = {});
    QUrl url(const QString& path) const;

    std::shared_ptr<BonjourConnectionManager> m_manager;
    std::shared_ptr<BonjourPotentialDevice> m_device;
    QString m_uniqueId;
    QNetworkAccessManager* m_network;
    QTimer m_resolveTimer;
    QHostAddress m_address;
    TimedProgressUpdater m_progress;
    QTimer m_rebootPollTimer;
    QByteArray m_payload;
    int m_state = Idle;
    // The recorder acknowledged the update start: only then is there an update to stop.
    bool m_updateStarted = false;
    std::function<void()> m_onResolved;
    std::function<void()> m_onResolveFailed;
};
