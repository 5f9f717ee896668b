#pragma once

#include "sim/usbbus/controlsetup.h"
#include "sim/usbbus/transfer.h"
#include "sim/xmega/xmegarpcserver.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace Sim {

// The unit's streaming interface (class 0xFF/2): RPC request messages in, reply messages
// out, with the streaming state read by class request 0x01 (5 busy, 6 reply ready, 2 idle).
// With bulk pipes a request is the start request (0x21/0x00) followed by the message on the
// OUT pipe, ended by a short or zero-length packet, and the reply comes on the IN pipe
// (a zero-length packet after a whole number of packets); without them the message travels
// in the start request and continuations (0x21/0x02) and the reply in chunks of a u16
// big-endian length and up to 1024 bytes (0xA1/0x03).
class NovaStreamingFunction
{
public:
    static constexpr uint8_t kStateIdle = 2;
    static constexpr uint8_t kStateBusy = 5;
    static constexpr uint8_t kStateReplyReady = 6;
    static constexpr size_t kChunkPayload = 1024;

    struct Faults
    {
        int busyPolls = 0;         // state reads answered busy before each reply is ready
        bool endlessReply = false; // the reply never ends: full chunks or full reads forever
        uint8_t readyState = 0;    // the state a waiting reply is announced with (0: 6)
        bool neverReplies = false; // requests are taken and never answered (state stays busy)
    };

    explicit NovaStreamingFunction(uint16_t maxPacketSize = 512);

    XmegaRpcServer& rpc() { return m_rpc; }
    void setFaults(const Faults& faults);

    uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                     std::vector<uint8_t>* in);
    void bulkOut(const TransferPtr& transfer);
    void bulkIn(const TransferPtr& transfer);

    // Ends the waiting IN reads as cancelled, as a host's abort does.
    void abortPendingReads();
    // The unit left the bus: pending work is dropped.
    void reset();

    int messagesHandled() const;
    // IN reads the host has started and the unit has not answered.
    int waitingReads() const;

private:
    void finishMessageLocked(std::vector<uint8_t> message,
                             std::vector<std::pair<TransferPtr, std::vector<uint8_t>>>* ready);
    void feedLocked(std::vector<std::pair<TransferPtr, std::vector<uint8_t>>>* ready);
    bool controlMessageComplete() const;

    mutable std::mutex m_mutex;
    XmegaRpcServer m_rpc;
    const uint16_t m_maxPacket;
    Faults m_faults;
    uint8_t m_state = kStateIdle;
    int m_busyLeft = 0;
    std::vector<uint8_t> m_request;
    bool m_receiving = false;
    std::vector<uint8_t> m_reply;
    size_t m_replyOffset = 0;
    bool m_replyPending = false;
    bool m_zeroLengthDue = false;
    std::deque<TransferPtr> m_reads;
    int m_messages = 0;
};

} // namespace Sim
