#include "sim/xmega/xmegastreamlink.h"

#include "platform/bytereader.h"
#include "sim/usbbus/usbdstatus.h"
#include "sim/xmega/xmegaunit.h"
#include "sim/xmega/xmegawords.h"

#include <algorithm>

namespace Sim {

XmegaStreamLink::XmegaStreamLink(XmegaRpcServer& rpc, uint8_t initialTid,
                                 uint32_t replyChunkPayload)
    : m_rpc(rpc)
    , m_replyChunkPayload(replyChunkPayload)
    , m_tid(initialTid)
{
}

void XmegaStreamLink::install(const XmegaBootLoader::Install& app)
{
    using Out = const std::vector<uint8_t>&;
    using In = std::vector<uint8_t>*;
    app(XmegaUnit::kOut, XmegaUnit::EnableStream, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_enabled = s.value != 0;
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::StreamReset, [this](const ControlSetup& s, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tid = uint8_t(s.value);
        m_incoming.clear();
        m_nextChunk = 0;
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::StreamWriteChunk,
        [this](const ControlSetup& s, Out out, In) { return writeChunk(s.value, out); });
    app(XmegaUnit::kIn, XmegaUnit::StreamBufferStatus, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        uint32_t length = m_replyPending ? uint32_t(currentChunkLocked().size()) : 0;
        if (m_replyPending && m_faults.announceChunkLength)
            length = m_faults.announceChunkLength;
        *in = xmegaWords({length});
        in->push_back(uint8_t(m_replyPending));
        in->push_back(1);
        in->push_back(m_tid);
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kIn, XmegaUnit::StreamReadChunk, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_replyPending)
            return Usbd::kStall;
        *in = currentChunkLocked();
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kIn, XmegaUnit::StreamReady, [this](const ControlSetup&, Out, In in) {
        std::lock_guard<std::mutex> lock(m_mutex);
        *in = {uint8_t(m_ready)};
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::StreamReplyAck, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_replyPending)
            return Usbd::kStall;
        m_wrongSequence = false;
        ++m_replyChunk;
        if (uint64_t(m_replyChunk) * m_replyChunkPayload >= m_reply.size()) {
            m_replyPending = false;
            m_reply.clear();
        }
        return Usbd::kSuccess;
    });
    app(XmegaUnit::kOut, XmegaUnit::StreamReplyRestart, [this](const ControlSetup&, Out, In) {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The host starts the reply again from its first chunk.
        if (m_replyPending) {
            m_wrongSequence = false;
            m_replyChunk = 0;
        }
        return Usbd::kSuccess;
    });
}

uint32_t XmegaStreamLink::writeChunk(uint16_t index, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> message;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index == 0) {
            m_incoming.clear();
            m_nextChunk = 0;
        }
        if (index != m_nextChunk)
            return Usbd::kStall;
        m_incoming.insert(m_incoming.end(), data.begin(), data.end());
        ++m_nextChunk;
        uint32_t total = 0;
        if (!Platform::ByteReader(m_incoming.data(), m_incoming.size()).u32(0, &total) ||
            m_incoming.size() < total)
            return Usbd::kSuccess;
        message.assign(m_incoming.begin(), m_incoming.begin() + long(total));
        m_incoming.clear();
        m_nextChunk = 0;
        m_replyPending = false;
        if (m_faults.rpcNeverReplies)
            return Usbd::kSuccess;
    }
    // Services run without the link's lock; the reply is ready before the host asks.
    std::vector<uint8_t> reply = m_rpc.handle(message);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_haveRawReply) {
        reply = std::move(m_rawReply);
        m_haveRawReply = false;
    }
    m_reply = std::move(reply);
    m_replyChunk = 0;
    m_replyPending = true;
    return Usbd::kSuccess;
}

std::vector<uint8_t> XmegaStreamLink::currentChunkLocked() const
{
    const size_t payload = std::max<size_t>(1, m_replyChunkPayload);
    const size_t from = std::min(m_reply.size(), size_t(m_replyChunk) * payload);
    const size_t to = std::min(m_reply.size(), from + payload);
    const uint32_t sequence = m_replyChunk + (m_wrongSequence ? 1 : 0);
    const uint32_t total =
        m_faults.announceTotal ? m_faults.announceTotal : uint32_t(m_reply.size());
    std::vector<uint8_t> chunk = xmegaWords({sequence, total});
    chunk.insert(chunk.end(), m_reply.begin() + long(from), m_reply.begin() + long(to));
    return chunk;
}

bool XmegaStreamLink::stallChunk()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_chunkRequests;
    if (m_faults.stallEvery && m_chunkRequests % m_faults.stallEvery == 0) {
        ++m_stalls;
        return true;
    }
    return false;
}

void XmegaStreamLink::setFaults(const XmegaFaults& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
    m_chunkRequests = 0;
    m_wrongSequence = faults.wrongSequenceOnce;
}

void XmegaStreamLink::rebooted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_enabled = false;
    m_replyPending = false;
    m_incoming.clear();
}

int XmegaStreamLink::stalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stalls;
}

void XmegaStreamLink::setReady(bool ready)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ready = ready;
}

bool XmegaStreamLink::enabled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enabled;
}

uint8_t XmegaStreamLink::transactionId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tid;
}

void XmegaStreamLink::setNextRawReply(std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rawReply = std::move(bytes);
    m_haveRawReply = true;
}

} // namespace Sim
