// Times a 4 MiB DFU download at transfer size 4096 to the simulated recorder, whose status
// answers carry a poll time-out of 0, and splits the time into the control transfers (the
// USB layer, the simulated driver and the unit) and the DFU host code around them. The
// host's share is what the DFU interface itself costs; the goal is that it stays small.
#include "forwardingusbdevice.h"
#include "novabench.h"
#include "plugins/webview/transport/dfuinterface.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kImageSize = 4u << 20;
constexpr uint16_t kTransferSize = 4096;
constexpr int kRounds = 7;

struct Round
{
    double totalMs = 0;
    double transferMs = 0;
    int transfers = 0;
};

Round downloadOnce(const std::vector<uint8_t>& image)
{
    Sim::NovaRecorder::Options options;
    options.bootloader = true;
    options.dfu.transferSize = kTransferSize;
    // Back to dfuIDLE after the manifestation: the round ends without a re-enumeration.
    NovaBench bench(options);
    Sim::NovaRecorder::Faults faults;
    faults.dfu.pollTimeoutMs = 0;
    faults.dfu.manifestEndsIdle = true;
    bench.recorder().setFaults(faults);
    CVN::USB::IUSBDevice* inner = bench.device();
    if (!inner) {
        std::fprintf(stderr, "the simulated recorder did not appear\n");
        std::exit(1);
    }
    Round round;
    auto* timed = new ForwardingUsbDevice(
        inner, [&round](CVN::USB::UsbControlRequest*,
                        const std::function<CVN::USB::CVNUsbStatus()>& transfer) {
            const auto start = Clock::now();
            const CVN::USB::CVNUsbStatus status = transfer();
            round.transferMs +=
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            ++round.transfers;
            return status;
        });
    {
        DFUInterface dfu(timed);
        dfu.enterIdle();
        round = Round();
        const auto start = Clock::now();
        dfu.download(image);
        round.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (bench.recorder().dfu().installedImage() != image) {
            std::fprintf(stderr, "the unit holds another image\n");
            std::exit(1);
        }
    }
    timed->Release();
    return round;
}

} // namespace

int main()
{
    setenv("PELLWORTH_USB_BACKEND", "sim", 1);
    std::vector<uint8_t> image(kImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 131 + (i >> 12));

    std::vector<Round> rounds;
    for (int i = 0; i < kRounds; ++i)
        rounds.push_back(downloadOnce(image));
    std::sort(rounds.begin(), rounds.end(),
              [](const Round& a, const Round& b) { return a.totalMs < b.totalMs; });
    const Round& median = rounds[rounds.size() / 2];
    const double hostMs = median.totalMs - median.transferMs;
    std::printf("DFU download of %zu KiB in blocks of %u, poll time-out 0 (median of %d)\n",
                kImageSize / 1024, kTransferSize, kRounds);
    std::printf("  total            %8.1f ms  (%.1f MiB/s)\n", median.totalMs,
                (kImageSize / 1048576.0) / (median.totalMs / 1000.0));
    std::printf("  control transfers %7d     %8.1f ms  (%.1f us each)\n", median.transfers,
                median.transferMs, 1000.0 * median.transferMs / median.transfers);
    std::printf("  DFU host code    %8.1f ms  = %.2f%% of the total\n", hostMs,
                100.0 * hostMs / median.totalMs);
    return 0;
}
