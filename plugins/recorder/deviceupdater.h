#pragma once

#include "plugins/shared/updatethread.h"
#include "usb/firmware/firmwarepackageentry.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace CVN {
namespace DiskRecorder {
class IKestrel;
} // namespace DiskRecorder
namespace USB {
class WaitClock;
} // namespace USB
} // namespace CVN

// Puts the firmware package of the unit's product on one USB recorder, on its own thread:
// reads the package from the plug-in's resources, checks every entry, prepares the unit,
// programs the entries with the progress of the whole job (-1 while the unit cannot tell),
// reboots it and waits for it to answer. Ends each run with exactly one complete(bool).
// Everything that waits (the unit's own reboots included, which need the notifier's thread
// free to run its timers) waits on this thread.
class DeviceUpdater : public UpdateThread
{
    Q_OBJECT
public:
    static constexpr std::uint32_t kResourceType = 1;
    static constexpr std::uint32_t kVendorResourceId = 0x2C4A0000;
    // The one model whose package carries two FPGA images, first for every codec but ProRes
    // HQ, second for ProRes HQ.
    static constexpr std::uint16_t kTwoFpgaImagesProduct = 0xC35A;
    static constexpr std::uint32_t kProResHQ = 0x61706368; // "apch"
    // Looks for the unit after the reboot, and the pause between them.
    static constexpr int kReturnLooks = 40;
    static constexpr std::uint32_t kReturnIntervalMs = 500;

    DeviceUpdater();
    ~DeviceUpdater() override;

    // Waits for a running update to end, lets go of the unit held, takes a reference on the
    // new one (may be null) and forgets the codec.
    void setDevice(CVN::DiskRecorder::IKestrel* device);
    CVN::DiskRecorder::IKestrel* device() const { return m_device.load(); }
    // Picks the FPGA image on the model that has two; tells the unit too. False without one.
    bool setCodecMode(std::uint32_t fourCC);
    std::uint32_t codecMode() const { return m_codecMode.load(); }
    // The pauses of the wait for the unit; tests hand in a clock that does not sleep.
    void setWaitClock(std::shared_ptr<CVN::USB::WaitClock> clock);

    // The package file of a product; null for a product without one.
    static const char* packageFileName(std::uint16_t productId);
    // Full path of that file in the plug-in's resources, worked out once per process.
    static std::string packagePath(std::uint16_t productId);
    // The entries of the product's resource; false unless the read succeeds with at least one.
    static bool readPackage(const std::string& path, std::uint16_t productId,
                            FirmwarePackageEntryList& entries);

Q_SIGNALS:
    void progressed(float fraction);
    void complete(bool succeeded);

protected:
    void run() override;

private:
    bool update(FirmwarePackageEntryList& entries);
    bool waitForUnit(CVN::DiskRecorder::IKestrel& device);
    static void reportProgram(void* context, float fraction);

    std::atomic<CVN::DiskRecorder::IKestrel*> m_device{nullptr};
    std::atomic<std::uint32_t> m_codecMode{0};
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
    // The part of the whole job that the entry being programmed covers; this thread only.
    float m_progressLow = 0.0f;
    float m_progressHigh = 1.0f;
};
