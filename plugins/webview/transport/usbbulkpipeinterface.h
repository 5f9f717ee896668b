#pragma once

#include "plugins/webview/transport/abstractusbinterface.h"
#include "plugins/webview/transport/usbtunnelmessagereader.h"
#include "plugins/webview/transport/usbtunnelworkqueue.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace CVN {
namespace USBTunnel {

// Moves the tunnel's messages over the claimed tunnel interface: bulk mode over a bulk OUT
// and IN pipe, or control mode over class requests when the interface has no bulk pipes.
// Every USB operation and all parsing runs in order on one work thread; a keep-alive makes an
// empty write when nothing was sent for a while.
//
// Every send hands its message to the work thread and returns whether it was taken. A taken
// send tells its completion exactly once on the work thread: true when the device took all
// of it, false when a write failed or the pipe shut down before it went out.
class USBBulkPipeInterface
{
public:
    using Completion = std::function<void(bool ok)>;
    // tokensReturned: tokens of the send that did not reach the device (all of them when the
    // transfer went with a separate header or failed); the caller credits them back.
    using TransferCompletion = std::function<void(bool ok, uint64_t tokensReturned)>;
    // Told once on the work thread when the tunnel fails: a USB failure or a protocol error.
    using FailureCallback = std::function<void(const QString& reason)>;

    static constexpr std::chrono::milliseconds kKeepAliveInterval{500};
    // Control mode gathers its polls' answers here before parsing.
    static constexpr uint32_t kReceiveBufferSize = 16384;
    // Bulk reads kept queued on the IN pipe, each into its own buffer, so the device never
    // waits for the host to parse one answer and ask again. Together they must cover the
    // link for as long as the host may take to hand an answer on and queue its read again
    // (three threads, each late on a busy machine): 2 MiB are 52 ms at 40 MB/s, where
    // 8 reads of 16 KiB, which the device often ends half full, left it waiting a third of
    // the time. A read ends at the device's first short packet, so a large one costs no
    // latency; on a fast link each answer's hand-off is what limits the rate, and reads of
    // 256 KiB instead of 64 KiB took it from about 400 to 600-800 MB/s at zero latency.
    static constexpr uint32_t kReadsInFlight = 8;
    static constexpr uint32_t kBulkReadSize = 262144;
    static constexpr uint16_t kControlPiece = 1024;
    static constexpr uint32_t kTokenCarryLimit = 4096;
    static constexpr uint32_t kMaxEmptyPolls = 10;
    static constexpr std::chrono::milliseconds kEmptyPollStep{4};
    // How long one bulk write may wait for the device: a silent device must not hold the
    // work thread, and with it every connection of the tunnel, for ever.
    static constexpr std::chrono::milliseconds kWriteLimit{5000};
    // How long shutdown waits for an aborted bulk read to come back.
    static constexpr std::chrono::milliseconds kReadAbortLimit{5000};

    enum Request : uint8_t { Reset = 1, SetVersion = 3, ControlWrite = 4, ControlRead = 5 };

    USBBulkPipeInterface(std::shared_ptr<AbstractUSB::AbstractUSBInterface> interface,
                         USBTunnelMessageReader::Sink* sink, FailureCallback failed,
                         std::chrono::milliseconds keepAliveInterval = kKeepAliveInterval,
                         std::chrono::milliseconds writeLimit = kWriteLimit);
    ~USBBulkPipeInterface();
    USBBulkPipeInterface(const USBBulkPipeInterface&) = delete;
    USBBulkPipeInterface& operator=(const USBBulkPipeInterface&) = delete;

    // Resets the tunnel function, agrees the protocol version, finds the pipes, then starts
    // reading and the keep-alive. Throws std::runtime_error.
    void setUp();

    bool sendOpenConnectionTCPMessage(uint16_t connectionId, uint16_t port, Completion done);
    bool sendOpenConnectionTestMessage(uint16_t connectionId, uint8_t a, uint64_t b, uint64_t c,
                                       Completion done);
    bool sendCloseConnectionMessage(uint16_t connectionId, Completion done);
    bool sendTokensMessage(uint16_t connectionId, uint64_t tokenCount, Completion done);
    // The data must stay valid until done is told. tokenCount rides along when the payload is
    // short enough (see carriesTokens); otherwise it comes back through done.
    bool sendTransfer(uint16_t connectionId, const char* data, uint32_t length, uint64_t tokenCount,
                      TransferCompletion done);
    bool carriesTokens(uint32_t length) const;

    // dropped is told instead of task when the pipe shuts down before the task ran.
    bool post(std::function<void()> task, std::function<void()> dropped = {});
    bool postAfter(std::chrono::milliseconds delay, std::function<void()> task);
    bool isWorkThread() const;
    // Aborts the pipes, stops the work thread and the keep-alive (sends still queued complete
    // with false), releases the interface. May run in a task on the work thread (a close
    // from a callback); the instance must then be destroyed from another thread.
    void shutdown();
    bool isClosed() const;

    bool protocol2() const { return m_protocol2; }
    bool controlMode() const { return m_outPipe == 0; }
    uint16_t outMaxPacket() const { return m_outMaxPacket; }

private:
    bool sendMessage(QByteArray message, Completion done);
    bool writeStream(const char* data, uint32_t length);
    bool writeOnce(const char* data, uint32_t length);
    void readBulk();
    void bulkReadDone(uint32_t slot, AbstractUSB::USBResult result, uint32_t bytes);
    void processReads();
    void pollControl();
    bool process(const char* data, size_t size);
    void fail(const QString& reason);
    void markActivity();
    void keepAliveLoop();

    std::shared_ptr<AbstractUSB::AbstractUSBInterface> m_interface;
    FailureCallback m_failed;
    USBTunnelMessageReader m_reader;
    USBTunnelWorkQueue m_workQueue;

    uint8_t m_outPipe = 0;
    uint16_t m_outMaxPacket = 512;
    uint8_t m_inPipe = 0;
    bool m_protocol2 = false;

    // One queued bulk read; work thread only. Reads are started and parsed in the order of
    // their slots, whatever order their completions come in.
    struct ReadSlot
    {
        std::vector<char> buffer;
        bool busy = false; // started, not yet parsed
        bool done = false; // completed, waiting for its turn
        AbstractUSB::USBResult result = AbstractUSB::kUSBSuccess;
        uint32_t bytes = 0;
    };

    std::vector<char> m_receiveBuffer;
    uint32_t m_received = 0;
    uint32_t m_emptyPolls = 0;
    std::vector<ReadSlot> m_reads;
    uint64_t m_nextRead = 0;  // slot sequence of the next read started
    uint64_t m_nextParse = 0; // and of the next one parsed

    std::mutex m_readMutex;
    std::condition_variable m_readDone;
    uint32_t m_readsInFlight = 0;     // started and not yet handed back to the work thread
    uint32_t m_completionsActive = 0; // reads' completions running on the USB thread

    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_failedOnce{false};
    std::atomic<bool> m_shutDown{false};

    const std::chrono::milliseconds m_keepAliveInterval;
    const std::chrono::milliseconds m_writeLimit;
    std::mutex m_keepAliveMutex;
    std::condition_variable m_keepAliveWake;
    std::chrono::steady_clock::time_point m_lastActivity;
    bool m_keepAliveStop = false;
    std::thread m_keepAliveThread;
};

} // namespace USBTunnel
} // namespace CVN
