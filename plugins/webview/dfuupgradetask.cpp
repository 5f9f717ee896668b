#include "dfuupgradetask.h"

#include "getfirmware.h"
#include "plugins/webview/transport/dfuinterface.h"
#include "usbconnectionmanager.h"
#include "usbpotentialdevice.h"

#include <QDebug>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <system_error>

DfuUpgradeTask::DfuUpgradeTask(const std::shared_ptr<UsbConnectionManager>& usbManager,
                               std::shared_ptr<UsbPotentialDevice> device)
    : m_device(std::move(device))
    , m_usbManager(usbManager)
{
    connect(&m_progress, &TimedProgressUpdater::updateProgress, this,
            &DeviceFirmwareUpdater::firmwareUpdateProgress);
}

DfuUpgradeTask::~DfuUpgradeTask()
{
    m_cancelled = true;
    if (m_worker.joinable())
        m_worker.join();
}

void DfuUpgradeTask::start()
{
    if (m_worker.joinable()) {
        // Joining from the worker itself throws std::system_error (resource deadlock).
        m_worker.join();
    }
    m_finished = false;
    m_worker = std::thread(&DfuUpgradeTask::runAndReport, this);
}

void DfuUpgradeTask::runAndReport()
{
    const bool ok = run();
    if (ok) {
        m_finished = true;
        emit firmwareUpdateProgress(100);
    }
    emit firmwareUpdated(ok ? Succeeded : Failed);
}

bool DfuUpgradeTask::run()
{
    if (!m_device)
        return false;
    try {
        qDebug() << "DFU Upgrade: Getting device info.";
        const QString uniqueId = m_device->uniqueId();
        const uint16_t productId = m_device->productId();
        const std::optional<ProductRecord> record = m_device->productRecord();
        if (!record)
            throw std::runtime_error("No product record for the device");
        const int64_t arrivalMs = record->arrivalTimeoutSeconds * 1000;
        const int64_t installMs = record->installSeconds * 1000;

        qDebug() << "DFU Upgrade: Waiting for initial arrival.";
        std::unique_ptr<DFUInterface> dfu = waitForDevice(uniqueId, arrivalMs, {});
        if (!dfu)
            throw std::runtime_error("Failed to get DFU interface before detach");

        qDebug() << "DFU Upgrade: Detaching....";
        if (!dfu->enterIdle()) {
            dfu.reset();
            qDebug() << "DFU Upgrade: Waiting for bootloader to run....";
            emit firmwareUpdateProgress(-1);
            dfu = waitForDevice(uniqueId, arrivalMs, {kDfuBootModeA, kDfuBootModeB});
            if (!dfu)
                throw std::runtime_error("Failed to get DFU interface after detach");
            qDebug() << "DFU Upgrade: Detaching (bootloader)....";
            if (!dfu->enterIdle())
                throw std::runtime_error("DFU interface did not reach its idle state");
        }

        qDebug() << "DFU Upgrade: Update started.";
        emit firmwareUpdateProgress(0);
        download(*dfu, record->firmwareFile, productId,
                 [this, installMs](uint64_t sent, uint64_t total) {
                     if (total == 0)
                         return;
                     emit firmwareUpdateProgress(int(float(sent) / float(total) * 50));
                     if (sent == total) {
                         // 100 is for the unit back on its new firmware, never for a wait.
                         m_progress.setPhase(50, 99, installMs);
                         emit m_progress.startProgressTimer(std::chrono::milliseconds(1000));
                     }
                 });
        dfu.reset();

        qDebug() << "DFU Upgrade: Payload download complete, waiting for OS arrival.";
        if (!waitForDevice(uniqueId, installMs, {kOsBootMode}))
            throw std::runtime_error("Failed to get DFU interface after download");

        qDebug() << "DFU Upgrade: Update finished.";
        emit firmwareUpdateProgress(100);
        emit m_progress.stopProgressTimer();
        return true;
    } catch (const std::exception& error) {
        // Device and package errors alike end the run as a failure, never out of the thread.
        emit m_progress.stopProgressTimer();
        qDebug() << "DFU Upgrade failure: " << error.what();
        return false;
    }
}

void DfuUpgradeTask::download(DFUInterface& dfu, const QString& fileName, uint16_t productId,
                              const DownloadProgress& progress)
{
    const QByteArray payload = getFirmware(fileName, productId);
    try {
        dfu.download(reinterpret_cast<const uint8_t*>(payload.constData()), size_t(payload.size()),
                     progress);
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::timed_out)
            throw;
        qDebug() << "DFU Upgrade: download timed out, waiting for the recorder:" << error.what();
    }
}

std::unique_ptr<DFUInterface> DfuUpgradeTask::waitForDevice(const QString& uniqueId,
                                                            int64_t timeoutMs,
                                                            const std::set<uint8_t>& bootModes)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::shared_ptr<UsbConnectionManager> manager = m_usbManager.lock();
    if (!manager)
        return nullptr;
    int lastMode = -1;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kDevicePollMs));
        if (m_cancelled)
            return nullptr;
        const std::shared_ptr<UsbPotentialDevice> device = manager->findByUniqueId(uniqueId);
        if (!device)
            continue;
        const uint8_t mode = device->bootMode();
        if (mode != lastMode) {
            qDebug() << "DFU Upgrade: Current boot mode " << mode;
            lastMode = mode;
        }
        if (bootModes.empty() || bootModes.count(mode)) {
            try {
                auto dfu = std::make_unique<DFUInterface>(device->usbDevice());
                dfu->setCancelFlag(&m_cancelled);
                return dfu;
            } catch (const std::exception& error) {
                // A unit that leaves while it is looked at may be back at the next look.
                qDebug() << "DFU Upgrade: " << error.what();
            }
        }
    }
    return nullptr;
}
