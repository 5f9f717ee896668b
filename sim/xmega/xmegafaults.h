#pragma once

#include <cstdint>

namespace Sim {

// Faults of the unit itself, on top of the bus's own. The unit hands each of its parts a
// copy when they are set.
struct XmegaFaults
{
    int stallRequest = 0; // the n-th vendor request from now on stalls (once)
    int stallEvery = 0;   // every n-th StreamWriteChunk or StreamReadChunk stalls
    int noReplyTo = -1;   // requests with this bRequest are never answered: the host times out
    bool wrongSequenceOnce = false;    // the next reply starts with sequence 1 instead of 0
    bool rpcNeverReplies = false;      // requests are taken and never answered
    bool rebootNeverReturns = false;   // a rebooted unit leaves the bus for good
    bool applicationWontStart = false; // a reboot into the application ends in the boot loader
    bool stuckInUpdateMode = false;    // update mode cannot be left
    bool eraseError = false;           // the erase status carries the error flag
    uint32_t announceChunkLength = 0;  // the buffer status announces this chunk length instead
    uint32_t announceTotal = 0;        // a reply's chunks claim this total length instead
};

} // namespace Sim
