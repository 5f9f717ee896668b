#include "sim/recorder/strictstreamlink.h"

#include "platform/bytereader.h"
#include "sim/usbbus/usbdstatus.h"

namespace Sim {

namespace {

constexpr uint8_t kWriteStream = 0x70;
constexpr uint8_t kBufferStatus = 0x71;
constexpr uint8_t kWriteTid = 0x74;
// Byte of the buffer status that says whether the unit takes a chunk.
constexpr size_t kWriteReadyByte = 5;

} // namespace

void StrictStreamLink::setOptions(const Options& options)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_options = options;
}

StrictStreamLink::Options StrictStreamLink::options() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_options;
}

void StrictStreamLink::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tidWritten = false;
    m_takenTid = -1;
    m_retry = false;
    m_received = 0;
    m_total = 0;
    m_busyLeft = 0;
}

bool StrictStreamLink::countChunkLocked(const ControlSetup& setup, const std::vector<uint8_t>& out)
{
    if (setup.value == 0) {
        m_received = 0;
        m_total = 0;
        Platform::ByteReader(out.data(), out.size()).u32(0, &m_total);
    }
    m_received += out.size();
    m_busyLeft = m_options.busyPolls;
    if (m_received < m_total)
        return false;
    m_tidWritten = false;
    return true;
}

StrictStreamLink::Verdict StrictStreamLink::before(const ControlSetup& setup,
                                                   const std::vector<uint8_t>& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_options.enabled || setup.request != kWriteStream)
        return Verdict::Pass;
    if (!m_tidWritten || m_busyLeft > 0) {
        ++m_refused;
        return Verdict::Stall;
    }
    if (!m_retry)
        return Verdict::Pass;
    // A message the unit has already taken: its chunks are accepted and thrown away.
    if (countChunkLocked(setup, out))
        ++m_dropped;
    return Verdict::Swallow;
}

void StrictStreamLink::after(const ControlSetup& setup, const std::vector<uint8_t>& out,
                             uint32_t* status, std::vector<uint8_t>* in)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_options.enabled || *status != Usbd::kSuccess)
        return;
    switch (setup.request) {
    case kWriteTid: {
        // Only a new message makes the unit busy again; the same id again is a retry.
        const bool fresh = !m_tidWritten || uint8_t(setup.value) != m_tid;
        m_tid = uint8_t(setup.value);
        m_tidWritten = true;
        m_retry = int(m_tid) == m_takenTid;
        m_received = 0;
        m_total = 0;
        if (fresh)
            m_busyLeft = m_options.busyPolls;
        break;
    }
    case kWriteStream:
        if (countChunkLocked(setup, out)) {
            m_takenTid = m_tid;
            if (++m_taken == m_options.loseAckOfMessage)
                *status = Usbd::kStall;
        }
        break;
    case kBufferStatus:
        if (m_busyLeft > 0 && in->size() > kWriteReadyByte) {
            --m_busyLeft;
            ++m_busyReports;
            (*in)[kWriteReadyByte] = 0;
        }
        break;
    default:
        break;
    }
}

int StrictStreamLink::busyReports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_busyReports;
}

int StrictStreamLink::refusedChunks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refused;
}

int StrictStreamLink::droppedRetries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

int StrictStreamLink::messagesTaken() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_taken;
}

} // namespace Sim
