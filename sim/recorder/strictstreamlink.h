#pragma once

#include "sim/usbbus/controlsetup.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace Sim {

// The stream-link rules a real unit keeps and the plain model lets pass: it reports its
// write buffer full while it is busy (after a transaction id and after each chunk it took),
// takes a message's chunks only after the message's transaction id, and drops a retried
// message whose transaction id is that of the message it took last (the reply to the first
// stays). A chunk sent early (no id, buffer full) stalls.
//
// The owning model asks before() for each vendor request and tells after() what it
// answered; after() may turn the answer into what the host sees.
class StrictStreamLink
{
public:
    struct Options
    {
        bool enabled = true;
        int busyPolls = 1;        // buffer-status reads that show the buffer full after each step
        int loseAckOfMessage = 0; // the n-th message taken: its last chunk's answer is a stall
    };
    enum class Verdict { Pass, Stall, Swallow };

    void setOptions(const Options& options);
    Options options() const;

    Verdict before(const ControlSetup& setup, const std::vector<uint8_t>& out);
    void after(const ControlSetup& setup, const std::vector<uint8_t>& out, uint32_t* status,
               std::vector<uint8_t>* in);
    // Back to a fresh unit's state, as after a reboot.
    void reset();

    int busyReports() const;
    int refusedChunks() const;
    int droppedRetries() const;
    int messagesTaken() const;

private:
    // Counts a chunk of the current message; true when the message is complete.
    bool countChunkLocked(const ControlSetup& setup, const std::vector<uint8_t>& out);

    mutable std::mutex m_mutex;
    Options m_options;
    bool m_tidWritten = false;
    uint8_t m_tid = 0;
    int m_takenTid = -1;
    bool m_retry = false;
    uint64_t m_received = 0;
    uint32_t m_total = 0;
    int m_busyLeft = 0;
    int m_busyReports = 0;
    int m_refused = 0;
    int m_dropped = 0;
    int m_taken = 0;
};

} // namespace Sim
