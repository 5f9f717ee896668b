#include "sim/novarecorder/novastreamingfunction.h"

#include "platform/bytereader.h"
#include "sim/usbbus/usbdstatus.h"

#include <algorithm>

namespace Sim {

namespace {
constexpr size_t kRpcHeader = 8;
} // namespace

NovaStreamingFunction::NovaStreamingFunction(uint16_t maxPacketSize)
    : m_maxPacket(maxPacketSize ? maxPacketSize : 512)
{
}

void NovaStreamingFunction::setFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
}

int NovaStreamingFunction::messagesHandled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

int NovaStreamingFunction::waitingReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& read : m_reads)
        n += read->isCancelled() ? 0 : 1;
    return n;
}

bool NovaStreamingFunction::controlMessageComplete() const
{
    // The RPC header's first word is the message's whole length.
    uint32_t total = 0;
    if (!Platform::ByteReader(m_request.data(), m_request.size()).u32(0, &total))
        return false;
    return m_request.size() >= std::max<size_t>(total, kRpcHeader);
}

void NovaStreamingFunction::finishMessageLocked(
    std::vector<uint8_t> message, std::vector<std::pair<TransferPtr, std::vector<uint8_t>>>* ready)
{
    m_receiving = false;
    ++m_messages;
    if (m_faults.neverReplies) {
        m_state = kStateBusy;
        m_busyLeft = -1;
        return;
    }
    // The server has a lock of its own and never calls back here.
    m_reply = m_rpc.handle(message);
    m_replyOffset = 0;
    m_replyPending = true;
    m_zeroLengthDue = false;
    m_busyLeft = m_faults.busyPolls;
    m_state = m_busyLeft > 0 ? kStateBusy : kStateReplyReady;
    if (m_state == kStateReplyReady)
        feedLocked(ready);
}

uint32_t NovaStreamingFunction::control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                        std::vector<uint8_t>* in)
{
    std::vector<std::pair<TransferPtr, std::vector<uint8_t>>> ready;
    uint32_t status = Usbd::kSuccess;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        in->assign(setup.isIn() ? setup.length : 0, 0);
        switch (setup.requestType << 8 | setup.request) {
        case 0xA101: { // state
            uint8_t state = m_state;
            if (m_state == kStateBusy && m_busyLeft > 0 && --m_busyLeft == 0) {
                m_state = kStateReplyReady;
                feedLocked(&ready);
            }
            if (state == kStateReplyReady && m_faults.readyState)
                state = m_faults.readyState;
            if (!in->empty())
                (*in)[0] = state;
            break;
        }
        case 0x2100: // start of a request
            m_request = out;
            m_receiving = true;
            m_replyPending = false;
            m_state = kStateIdle;
            if (!out.empty() && controlMessageComplete())
                finishMessageLocked(std::move(m_request), &ready);
            break;
        case 0x2102: // continuation (control mode)
            if (!m_receiving) {
                status = Usbd::kStall;
                break;
            }
            m_request.insert(m_request.end(), out.begin(), out.end());
            if (controlMessageComplete())
                finishMessageLocked(std::move(m_request), &ready);
            break;
        case 0xA103: { // reply chunk (control mode)
            if (!m_replyPending || m_state != kStateReplyReady) {
                status = Usbd::kStall;
                break;
            }
            size_t n = std::min(kChunkPayload, m_reply.size() - m_replyOffset);
            if (m_faults.endlessReply)
                n = kChunkPayload;
            if (in->size() >= 2) {
                (*in)[0] = uint8_t(n >> 8);
                (*in)[1] = uint8_t(n);
            }
            for (size_t i = 0; i < n && 2 + i < in->size() && m_replyOffset + i < m_reply.size();
                 ++i)
                (*in)[2 + i] = m_reply[m_replyOffset + i];
            m_replyOffset = std::min(m_reply.size(), m_replyOffset + n);
            if (n < kChunkPayload) {
                m_replyPending = false;
                m_state = kStateIdle;
            }
            break;
        }
        default:
            status = Usbd::kStall;
        }
    }
    for (auto& r : ready)
        r.first->complete(Usbd::kSuccess, r.second);
    return status;
}

void NovaStreamingFunction::bulkOut(const TransferPtr& transfer)
{
    std::vector<std::pair<TransferPtr, std::vector<uint8_t>>> ready;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::vector<uint8_t>& data = transfer->outData();
        if (m_receiving) {
            m_request.insert(m_request.end(), data.begin(), data.end());
            // A short packet (or a zero-length one) ends the message.
            if (data.empty() || data.size() % m_maxPacket != 0)
                finishMessageLocked(std::move(m_request), &ready);
        }
    }
    transfer->complete(Usbd::kSuccess);
    for (auto& r : ready)
        r.first->complete(Usbd::kSuccess, r.second);
}

void NovaStreamingFunction::bulkIn(const TransferPtr& transfer)
{
    std::vector<std::pair<TransferPtr, std::vector<uint8_t>>> ready;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reads.push_back(transfer);
        feedLocked(&ready);
    }
    for (auto& r : ready)
        r.first->complete(Usbd::kSuccess, r.second);
}

void NovaStreamingFunction::feedLocked(
    std::vector<std::pair<TransferPtr, std::vector<uint8_t>>>* ready)
{
    while (!m_reads.empty() && m_replyPending && m_state == kStateReplyReady) {
        TransferPtr read = m_reads.front();
        m_reads.pop_front();
        if (read->isCancelled())
            continue;
        const size_t want = read->inLength();
        if (m_faults.endlessReply) {
            ready->emplace_back(read, std::vector<uint8_t>(want, 0xEE));
            continue;
        }
        if (m_zeroLengthDue) {
            ready->emplace_back(read, std::vector<uint8_t>());
            m_replyPending = false;
            m_state = kStateIdle;
            break;
        }
        const size_t n = std::min(want, m_reply.size() - m_replyOffset);
        ready->emplace_back(read, std::vector<uint8_t>(m_reply.begin() + long(m_replyOffset),
                                                       m_reply.begin() + long(m_replyOffset + n)));
        m_replyOffset += n;
        if (m_replyOffset < m_reply.size())
            continue;
        // The read took exactly what was left: a whole-packet reply still owes the host its
        // zero-length packet, which the next read gets.
        if (n == want && m_reply.size() % m_maxPacket == 0) {
            m_zeroLengthDue = true;
            continue;
        }
        m_replyPending = false;
        m_state = kStateIdle;
    }
}

void NovaStreamingFunction::abortPendingReads()
{
    std::deque<TransferPtr> reads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reads.swap(m_reads);
    }
    for (const auto& r : reads)
        r->complete(Usbd::kCanceled);
}

void NovaStreamingFunction::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reads.clear();
    m_request.clear();
    m_receiving = false;
    m_replyPending = false;
    m_state = kStateIdle;
}

} // namespace Sim
