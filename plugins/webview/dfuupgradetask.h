#pragma once

#include "framework/contract/devicefirmwareupdater.h"
#include "timedprogressupdater.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <thread>

class DFUInterface;
class UsbConnectionManager;
class UsbPotentialDevice;

// Updates a USB recorder over DFU 1.1 on a worker thread of its own: waits for the unit,
// detaches it into its boot loader, downloads the image and waits for the operating system to
// come back. The worker shares only the two flags and queued signals with the owner's thread.
class DfuUpgradeTask : public DeviceFirmwareUpdater
{
    Q_OBJECT
public:
    static constexpr uint8_t kOsBootMode = 1;
    static constexpr uint8_t kDfuBootModeA = 10;
    static constexpr uint8_t kDfuBootModeB = 11;
    static constexpr int kDevicePollMs = 100;

    using DownloadProgress = std::function<void(uint64_t sent, uint64_t total)>;

    DfuUpgradeTask(const std::shared_ptr<UsbConnectionManager>& usbManager,
                   std::shared_ptr<UsbPotentialDevice> device);
    ~DfuUpgradeTask() override;

    bool checkDevice() override { return m_finished.load(); }
    void start() override;

    TimedProgressUpdater* progressUpdater() { return &m_progress; }

protected:
    // Fetches the payload and downloads it; a time-out of the download is left to the wait for
    // the recorder that follows.
    virtual void download(DFUInterface& dfu, const QString& fileName, uint16_t productId,
                          const DownloadProgress& progress);

private:
    void runAndReport();
    bool run();
    std::unique_ptr<DFUInterface> waitForDevice(const QString& uniqueId, int64_t timeoutMs,
                                                const std::set<uint8_t>& bootModes);

    std::shared_ptr<UsbPotentialDevice> m_device;
    std::weak_ptr<UsbConnectionManager> m_usbManager;
    std::thread m_worker;
    TimedProgressUpdater m_progress;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_finished{false};
};
