// Times a 1 MiB firmware update of the simulated FX2 recorder (0xC34D, 256-byte flash packets)
// through DeviceUpdater: package read and check, flash programming and the look for the unit,
// with the unit's busy polls and the host's pauses at zero. Splits the time into what the
// device model spends answering (its control and bulk handlers) and everything outside it:
// the updater, the recorder device, the FX2 layer, the USB layer and the simulated driver.
#include "plugins/recorder/deviceupdater.h"
#include "plugins/recorder/diskrecorderinstance.h"
#include "plugins/recorder/kestrelfx2usbdevice.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "sim/packages/firmwarepackagewriter.h"
#include "sim/recorder/fx2recorder.h"
#include "tests/usb/simdevicefixture.h"
#include "usb/driver/notificationregistration.h"
#include "usb/firmware/firmwarepackageentry.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kProductId = 0xC34D;
constexpr size_t kImageSize = 1u << 20;
constexpr uint32_t kAddress = 0x100000;
constexpr int kRounds = 7;

// The recorder model with the time spent in its handlers counted.
class TimedRecorder : public Sim::Fx2Recorder
{
public:
    TimedRecorder()
        : Fx2Recorder(kProductId)
    {
    }
    void control(const Sim::TransferPtr& transfer) override
    {
        const auto start = Clock::now();
        Fx2Recorder::control(transfer);
        add(start);
    }
    void bulk(const Sim::TransferPtr& transfer) override
    {
        const auto start = Clock::now();
        Fx2Recorder::bulk(transfer);
        add(start);
    }
    void reset()
    {
        m_ns = 0;
        m_requests = 0;
    }
    double ms() const { return double(m_ns.load()) / 1e6; }
    int requests() const { return m_requests.load(); }

private:
    void add(Clock::time_point start)
    {
        m_ns += uint64_t(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
        ++m_requests;
    }
    std::atomic<uint64_t> m_ns{0};
    std::atomic<int> m_requests{0};
};

struct Round
{
    double totalMs = 0;
    double packageMs = 0;
    double modelMs = 0;
    int requests = 0;
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

Round updateOnce(const std::vector<uint8_t>& image)
{
    auto model = std::make_shared<TimedRecorder>();
    for (uint8_t mode = 1; mode <= 4; ++mode)
        model->flash(mode)->setBusyPolls(0, 0);
    const Sim::DeviceId id = Sim::UsbBus::instance().plug(model);
    DeviceCollector collector;
    CVN::USB::NotificationRegistration* registration = registerCollector(&collector);
    if (collector.arrivals.size() != 1)
        fail("the simulated recorder did not appear");
    auto* instance = new CVN::DiskRecorder::DiskRecorderInstance(collector.arrivals[0], nullptr);
    auto clock = std::make_shared<ManualClock>();
    instance->setClock(clock);
    if (!instance->open())
        fail("the simulated recorder did not open");
    auto* device = new CVN::DiskRecorder::KestrelFX2USBDevice(instance);

    Round round;
    {
        DeviceUpdater updater;
        updater.setDevice(device);
        updater.setWaitClock(clock);
        bool succeeded = false;
        QObject::connect(
            &updater, &DeviceUpdater::complete, &updater, [&succeeded](bool ok) { succeeded = ok; },
            Qt::DirectConnection);
        model->reset();
        const auto start = Clock::now();
        updater.startUpdate();
        updater.waitForEnd();
        round.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        round.modelMs = model->ms();
        round.requests = model->requests();
        if (!succeeded)
            fail("the update failed");
    }
    if (model->flash(1)->contents(kAddress, uint32_t(image.size())) != image)
        fail("the unit holds another image");

    device->release();
    instance->Release();
    collector.clear();
    CVN::USB::CVNUsb_UnregisterDeviceNotifications(registration);
    Sim::UsbBus::instance().unplug(id);
    Sim::UsbBus::instance().reset();
    return round;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("PELLWORTH_USB_BACKEND", "sim", 1);
    QCoreApplication app(argc, argv);
    QTemporaryDir resources;
    FirmwareFileLocator::setResourcesDirectory(resources.path().toStdString());

    std::vector<uint8_t> image(kImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 131 + (i >> 12));
    FirmwarePackageWriter writer;
    FirmwarePackageWriter::Package& package = writer.addPackage();
    package.payload = image;
    package.compression = 1;
    package.descriptors.push_back(
        FirmwarePackageWriter::Descriptor::firmware(kProductId, 0, kAddress));
    std::string error;
    if (!writer.write(resources.path().toStdString() + "/" +
                          DeviceUpdater::packageFileName(kProductId),
                      &error))
        fail(error.c_str());

    std::vector<Round> rounds;
    std::vector<double> packageMs;
    for (int i = 0; i < kRounds; ++i) {
        rounds.push_back(updateOnce(image));
        // The package part alone: read, authenticate, inflate.
        const auto start = Clock::now();
        FirmwarePackageEntryList entries;
        if (!DeviceUpdater::readPackage(DeviceUpdater::packagePath(kProductId), kProductId,
                                        entries) ||
            !entries[0]->data())
            fail("the package does not read");
        packageMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(packageMs.begin(), packageMs.end());
    std::sort(rounds.begin(), rounds.end(),
              [](const Round& a, const Round& b) { return a.totalMs < b.totalMs; });
    const Round& median = rounds[rounds.size() / 2];
    const double mib = double(kImageSize) / 1048576.0;
    const double outsideMs = median.totalMs - median.modelMs;
    std::printf("Firmware update of %zu KiB into the simulated FX2 recorder %04X, pauses at zero "
                "(median of %d)\n",
                kImageSize / 1024, kProductId, kRounds);
    std::printf("  host time        %8.1f ms per MiB  (%d requests)\n", median.totalMs / mib,
                median.requests);
    std::printf("  device model     %8.1f ms\n", median.modelMs);
    std::printf("  outside the model %7.1f ms  = %.1f%% of the total\n", outsideMs,
                100.0 * outsideMs / median.totalMs);
    std::printf("    of which the package (read, check, inflate) %.1f ms\n",
                packageMs[packageMs.size() / 2]);
    return 0;
}
