#pragma once

#include "plugins/recorder/kestrelconnection.h"

#include <QTimer>

#include <memory>

namespace CVN {
namespace DiskRecorder {
class IKestrel;
} // namespace DiskRecorder
namespace USB {
class WaitClock;
} // namespace USB
} // namespace CVN

// Polls a USB recorder once a second until it answers with current firmware, then follows its
// settings and writes the user's back. Runs on the GUI thread; a write may block it while the
// unit comes back (kReadyWaitLooks x kReadyWaitIntervalMs).
class KestrelUSBConnection : public KestrelConnection
{
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 1000;
    // Failed polls, counted over every connection of the plug-in, before the unit is offered
    // new firmware.
    static constexpr int kFailureLimit = 15;
    static constexpr int kReadyWaitLooks = 40;
    static constexpr quint32 kReadyWaitIntervalMs = 500;

    // Holds one reference to `device` (may be null) until destruction.
    KestrelUSBConnection(CVN::DiskRecorder::IKestrel* device, quint32 model, QObject* parent);
    ~KestrelUSBConnection() override;

    bool isLegacy();
    bool isPolling() const { return m_pollTimer.isActive(); }

    void startPolling() override;
    void stopPolling() override;
    bool writeSettings(const KestrelSettings& settings) override;

    // The pauses of the ready wait; tests hand in a clock that does not sleep.
    void setWaitClock(std::shared_ptr<CVN::USB::WaitClock> clock);

    static int failureCount();
    static void resetFailureCount();

public slots:
    void pollConnection();

private:
    void readSettings();
    void waitUntilReady();
    void reportFirmwareNeeded();

    CVN::DiskRecorder::IKestrel* m_device = nullptr;
    QTimer m_pollTimer;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
};
