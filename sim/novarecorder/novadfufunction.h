#pragma once

#include "sim/usbbus/controlsetup.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace Sim {

// The unit's DFU interface (USB DFU 1.1). In the application (runtime persona, protocol 1)
// it answers GETSTATUS with appIDLE and takes DETACH: a unit that detaches by itself goes to
// its boot loader after a short delay, any other waits for a USB reset within the detach
// time-out. In the boot loader (DFU persona, protocol 2) it runs the DFU state machine:
// download blocks (numbered from 0, checked), status polls with busy states and a poll
// time-out, the empty block that starts the manifestation, manifestation, ABORT and
// CLRSTATUS; a reset after a complete manifestation starts the new firmware.
class NovaDfuFunction
{
public:
    enum State : uint8_t {
        kAppIdle = 0,
        kAppDetach = 1,
        kDfuIdle = 2,
        kDnloadSync = 3,
        kDnBusy = 4,
        kDnloadIdle = 5,
        kManifestSync = 6,
        kManifest = 7,
        kManifestWaitReset = 8,
        kUploadIdle = 9,
        kDfuError = 10,
    };
    enum Status : uint8_t {
        kOk = 0,
        kErrWrite = 3,
        kErrVerify = 7,
        kErrAddress = 8,
        kErrNotDone = 9,
        kErrUnknown = 14,
        kErrStalledPacket = 15,
    };

    struct Options
    {
        uint8_t attributes = 0x0D; // willDetach, manifestation tolerant, can download
        uint16_t detachTimeoutMs = 1000;
        uint16_t transferSize = 4096;
        uint32_t capacity = 64u << 20; // bytes the boot loader takes
    };

    struct Faults
    {
        uint8_t descriptorLength = 9; // the functional descriptor's bLength
        uint32_t pollTimeoutMs = 0;   // bwPollTimeout of every status
        int busyPolls = 0;            // status polls in dfuDNBUSY after each block
        bool stuckBusy = false;       // a block never finishes
        int errorAtBlock = -1;        // this block ends in dfuERROR (errWRITE)
        int statusErrorAtBlock = -1;  // this block ends in dfuDNLOAD-IDLE with errWRITE
        bool errorInManifest = false; // the manifestation ends in dfuERROR (errVERIFY)
        bool manifestEndsIdle =
            false; // a tolerant unit goes back to dfuIDLE, not waiting for reset
    };

    // Asked to leave the bus and come back as the application (true) or boot loader.
    using Reenumerate = std::function<void(bool application)>;

    NovaDfuFunction(Options options, Reenumerate reenumerate);

    std::vector<uint8_t> descriptorBody() const;
    void setFaults(const Faults& faults);
    Options options() const;

    // Runtime (application) or DFU (boot loader) persona; each start of a persona resets the
    // state machine.
    void enterApplication();
    void enterBootloader();

    uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                     std::vector<uint8_t>* in);
    // A USB port reset of the unit.
    void usbReset();

    State state() const;
    // The sizes of the download blocks taken, in order, since the boot loader started.
    std::vector<uint32_t> blockSizes() const;
    // The image of the last download that completed its manifestation.
    std::vector<uint8_t> installedImage() const;
    // How many images were installed.
    int installs() const;
    // Every class request the interface took, in either persona, in order (the bus's log
    // starts afresh with each re-enumeration), and the USB resets it saw.
    std::vector<ControlSetup> requests() const;
    int resets() const;
    void clearRequests();

private:
    uint32_t runtimeRequest(const ControlSetup& setup, std::vector<uint8_t>* in);
    uint32_t dfuRequest(const ControlSetup& setup, const std::vector<uint8_t>& out,
                        std::vector<uint8_t>* in, bool* leave);
    void statusLocked(std::vector<uint8_t>* in);
    uint32_t stallLocked();
    bool manifestLocked();

    mutable std::mutex m_mutex;
    const Options m_options;
    Reenumerate m_reenumerate;
    Faults m_faults;
    bool m_bootloader = false;
    State m_state = kAppIdle;
    Status m_status = kOk;
    uint16_t m_nextBlock = 0;
    int m_busyLeft = 0;
    bool m_blockFails = false;
    bool m_blockStatusError = false;
    std::vector<uint8_t> m_download;
    std::vector<uint32_t> m_blockSizes;
    std::vector<uint8_t> m_installed;
    bool m_manifested = false;
    int m_installs = 0;
    std::vector<ControlSetup> m_requests;
    int m_resets = 0;
};

} // namespace Sim
