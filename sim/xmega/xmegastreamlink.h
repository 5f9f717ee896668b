#pragma once

#include "sim/xmega/xmegabootloader.h"
#include "sim/xmega/xmegafaults.h"
#include "sim/xmega/xmegarpcserver.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace Sim {

// The application's streaming link: numbered write chunks gather a message, which goes to
// the RPC server once complete; its reply is read back in chunks with a sequence and total,
// acknowledged or restarted by the host.
class XmegaStreamLink
{
public:
    // Message bytes per reply chunk (the chunk adds an 8-byte header).
    XmegaStreamLink(XmegaRpcServer& rpc, uint8_t initialTid, uint32_t replyChunkPayload);

    // Installs the link's requests as application requests.
    void install(const XmegaBootLoader::Install& app);
    // Counts a chunk request; true when the fault knob stalls this one.
    bool stallChunk();
    // Restarts the chunk count and arms a wrong sequence.
    void setFaults(const XmegaFaults& faults);
    // A restart disables the link and drops what is half sent or unread.
    void rebooted();

    int stalls() const;
    void setReady(bool ready);
    bool enabled() const;
    uint8_t transactionId() const;
    void setNextRawReply(std::vector<uint8_t> bytes);

private:
    uint32_t writeChunk(uint16_t index, const std::vector<uint8_t>& data);
    std::vector<uint8_t> currentChunkLocked() const;

    XmegaRpcServer& m_rpc;
    const uint32_t m_replyChunkPayload;
    mutable std::mutex m_mutex;
    XmegaFaults m_faults;
    int m_chunkRequests = 0;
    int m_stalls = 0;
    bool m_ready = true;
    bool m_enabled = false;
    uint8_t m_tid = 1;
    std::vector<uint8_t> m_incoming;
    uint32_t m_nextChunk = 0;
    std::vector<uint8_t> m_reply;
    bool m_replyPending = false;
    uint32_t m_replyChunk = 0;
    bool m_wrongSequence = false;
    std::vector<uint8_t> m_rawReply;
    bool m_haveRawReply = false;
};

} // namespace Sim
