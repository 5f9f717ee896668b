#include "sim/novarecorder/novadfufunction.h"

#include "sim/usbbus/usbdstatus.h"

namespace Sim {

namespace {

enum Request : uint8_t {
    kDetach = 0,
    kDnload = 1,
    kUpload = 2,
    kGetStatus = 3,
    kClrStatus = 4,
    kGetState = 5,
    kAbort = 6,
};

constexpr uint8_t kOut = 0x21;
constexpr uint8_t kIn = 0xA1;
constexpr uint8_t kManifestationTolerant = 0x04;
constexpr uint8_t kWillDetach = 0x08;
constexpr uint8_t kCanDownload = 0x01;

} // namespace

NovaDfuFunction::NovaDfuFunction(Options options, Reenumerate reenumerate)
    : m_options(options)
    , m_reenumerate(std::move(reenumerate))
{
}

std::vector<uint8_t> NovaDfuFunction::descriptorBody() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> body = {m_options.attributes,
                                 uint8_t(m_options.detachTimeoutMs),
                                 uint8_t(m_options.detachTimeoutMs >> 8),
                                 uint8_t(m_options.transferSize),
                                 uint8_t(m_options.transferSize >> 8),
                                 0x10,
                                 0x01};
    body.resize(m_faults.descriptorLength > 2 ? m_faults.descriptorLength - 2 : 0, 0);
    return body;
}

void NovaDfuFunction::setFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
}

NovaDfuFunction::Options NovaDfuFunction::options() const
{
    return m_options;
}

void NovaDfuFunction::enterApplication()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bootloader = false;
    m_state = kAppIdle;
    m_status = kOk;
}

void NovaDfuFunction::enterBootloader()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bootloader = true;
    m_state = kDfuIdle;
    m_status = kOk;
    m_nextBlock = 0;
    m_download.clear();
    m_blockSizes.clear();
    m_manifested = false;
}

NovaDfuFunction::State NovaDfuFunction::state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

std::vector<uint32_t> NovaDfuFunction::blockSizes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blockSizes;
}

std::vector<uint8_t> NovaDfuFunction::installedImage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_installed;
}

int NovaDfuFunction::installs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_installs;
}

std::vector<ControlSetup> NovaDfuFunction::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int NovaDfuFunction::resets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resets;
}

void NovaDfuFunction::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_resets = 0;
}

uint32_t NovaDfuFunction::stallLocked()
{
    if (m_bootloader) {
        m_state = kDfuError;
        m_status = kErrStalledPacket;
    }
    return Usbd::kStall;
}

void NovaDfuFunction::statusLocked(std::vector<uint8_t>* in)
{
    switch (m_state) {
    case kDnloadSync:
    case kDnBusy:
        if (m_faults.stuckBusy || m_busyLeft > 0) {
            if (m_busyLeft > 0)
                --m_busyLeft;
            m_state = kDnBusy;
        } else if (m_blockFails) {
            m_state = kDfuError;
            m_status = kErrWrite;
        } else {
            m_state = kDnloadIdle;
            if (m_blockStatusError)
                m_status = kErrWrite;
        }
        break;
    case kManifestSync:
        m_state = kManifest;
        break;
    case kManifest:
        if (m_faults.errorInManifest) {
            m_state = kDfuError;
            m_status = kErrVerify;
        } else {
            manifestLocked();
            if (m_options.attributes & kManifestationTolerant && m_faults.manifestEndsIdle)
                m_state = kDfuIdle;
            else
                m_state = kManifestWaitReset;
        }
        break;
    default:
        break;
    }
    const uint32_t poll = m_faults.pollTimeoutMs;
    *in = {m_status, uint8_t(poll), uint8_t(poll >> 8), uint8_t(poll >> 16), m_state, 0};
}

bool NovaDfuFunction::manifestLocked()
{
    if (m_manifested)
        return false;
    m_manifested = true;
    m_installed = m_download;
    ++m_installs;
    return true;
}

uint32_t NovaDfuFunction::runtimeRequest(const ControlSetup& setup, std::vector<uint8_t>* in)
{
    if (setup.requestType == kIn && setup.request == kGetStatus) {
        *in = {kOk, 0, 0, 0, m_state, 0};
        return Usbd::kSuccess;
    }
    if (setup.requestType == kIn && setup.request == kGetState) {
        *in = {m_state};
        return Usbd::kSuccess;
    }
    if (setup.requestType == kOut && setup.request == kDetach) {
        m_state = kAppDetach;
        return Usbd::kSuccess;
    }
    return Usbd::kStall;
}

uint32_t NovaDfuFunction::dfuRequest(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                     std::vector<uint8_t>* in, bool* leave)
{
    if (setup.requestType == kIn && setup.request == kGetStatus) {
        statusLocked(in);
        return Usbd::kSuccess;
    }
    if (setup.requestType == kIn && setup.request == kGetState) {
        *in = {m_state};
        return Usbd::kSuccess;
    }
    if (setup.requestType != kOut)
        return stallLocked();
    switch (setup.request) {
    case kDnload:
        if (m_state != kDfuIdle && m_state != kDnloadIdle)
            return stallLocked();
        if (setup.length == 0) {
            // Only a started download can end.
            if (m_state != kDnloadIdle)
                return stallLocked();
            m_state = kManifestSync;
            if (!(m_options.attributes & kManifestationTolerant)) {
                // Nobody polls a unit that cannot: it manifests and waits for its reset,
                // or starts the new firmware when it detaches by itself.
                manifestLocked();
                m_state = kManifestWaitReset;
                *leave = m_options.attributes & kWillDetach;
            }
            return Usbd::kSuccess;
        }
        if (!(m_options.attributes & kCanDownload) || setup.length > m_options.transferSize)
            return stallLocked();
        if (setup.value != m_nextBlock || m_download.size() + out.size() > m_options.capacity) {
            m_state = kDfuError;
            m_status = setup.value != m_nextBlock ? kErrUnknown : kErrAddress;
            return Usbd::kSuccess;
        }
        m_download.insert(m_download.end(), out.begin(), out.end());
        m_blockSizes.push_back(uint32_t(out.size()));
        m_blockFails = int(m_nextBlock) == m_faults.errorAtBlock;
        m_blockStatusError = int(m_nextBlock) == m_faults.statusErrorAtBlock;
        ++m_nextBlock;
        m_busyLeft = m_faults.busyPolls;
        m_state = kDnloadSync;
        return Usbd::kSuccess;
    case kClrStatus:
        if (m_state != kDfuError)
            return stallLocked();
        m_state = kDfuIdle;
        m_status = kOk;
        m_nextBlock = 0;
        m_download.clear();
        return Usbd::kSuccess;
    case kAbort:
        if (m_state != kDfuIdle && m_state != kDnloadIdle && m_state != kUploadIdle)
            return stallLocked();
        m_state = kDfuIdle;
        m_nextBlock = 0;
        m_download.clear();
        return Usbd::kSuccess;
    default:
        return stallLocked();
    }
}

uint32_t NovaDfuFunction::control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                  std::vector<uint8_t>* in)
{
    bool leave = false;
    bool detachByItself = false;
    uint32_t status = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(setup);
        if (m_bootloader) {
            status = dfuRequest(setup, out, in, &leave);
        } else {
            const State before = m_state;
            status = runtimeRequest(setup, in);
            detachByItself = before != kAppDetach && m_state == kAppDetach &&
                             (m_options.attributes & kWillDetach);
        }
        if (setup.isIn())
            in->resize(setup.length, 0);
    }
    if (detachByItself)
        m_reenumerate(false);
    if (leave)
        m_reenumerate(true);
    return status;
}

void NovaDfuFunction::usbReset()
{
    bool toApplication = false;
    bool toBootloader = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_resets;
        if (!m_bootloader) {
            toBootloader = m_state == kAppDetach;
        } else {
            // A reset after the manifestation starts the new firmware; before it the boot
            // loader starts again.
            toApplication = m_manifested;
            toBootloader = !m_manifested;
        }
    }
    if (toApplication || toBootloader)
        m_reenumerate(toApplication);
}

} // namespace Sim
