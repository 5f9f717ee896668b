#pragma once

#include "plugins/webview/transport/connectionbuffer.h"
#include "plugins/webview/transport/operationresult.h"
#include "plugins/webview/transport/usbtunnelmessagereader.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace CVN {
namespace AbstractUSB {
class AbstractUSBDevice;
class AbstractUSBInterface;
} // namespace AbstractUSB

namespace USBTunnel {

class USBBulkPipeInterface;

// The host side of one device's USB tunnel: a table of TCP connections made on the device,
// carried over one USBBulkPipeInterface, paced by tokens, each with a 4 MiB receive ring.
//
// Threads: all work runs on the pipe's one work thread. Every operation may be called from
// any thread; the asynchronous ones post their work and return at once. Every callback runs
// on the work thread, so a callback must not block and must not call a synchronous
// operation (that throws std::logic_error). Never destroy the engine on its work thread.
//
// Callbacks: an asynchronous operation returns false when the tunnel is already closed and
// then drops its callback uncalled. When it returns true its callback is told exactly once:
// with the outcome, or with TunnelClosed when the tunnel closes (or the engine is destroyed)
// first; only in that last case does it run on the destroying thread.
// connectionClosed(id) is told once for each connection that leaves the table after its open
// went out, whether the device ended it, its close got no answer in time, or the tunnel
// closed. tunnelClosed is told once, after every connection has ended, unless the engine is
// destroyed before its tunnel closed.
//
// Ownership: a write's data and a read's buffer stay the caller's and must live until the
// operation's callback. The engine owns its device and pipe.
class USBTunnelImpl final : private USBTunnelMessageReader::Sink
{
public:
    // (Success, device's error) when the device opened or confirmed the close;
    // (ConnectionLost, device's error) when the device refused the open.
    using EventCallback = std::function<void(OperationResult, ConnectionError)>;
    using WriteCallback = std::function<void(OperationResult)>;
    using ReadCallback = std::function<void(OperationResult, uint64_t bytesRead)>;
    using VectorReadCallback = std::function<void(OperationResult, std::vector<char>)>;
    using ConnectionClosedCallback = std::function<void(uint16_t connectionId)>;
    using TunnelClosedCallback = std::function<void()>;

    static constexpr uint16_t kVendorId = 0x2C4A;
    static constexpr uint8_t kInterfaceClass = 0xFF;
    static constexpr uint8_t kInterfaceSubclass = 5;
    // How long a close waits for the device's answer before the connection is dropped here.
    static constexpr std::chrono::milliseconds kCloseLimit{5000};
    // How long an open waits for the device's answer before it is given up as failed.
    static constexpr std::chrono::milliseconds kOpenLimit{5000};

    struct Options
    {
        std::chrono::milliseconds keepAliveInterval{500};
        std::chrono::milliseconds closeLimit = kCloseLimit;
        std::chrono::milliseconds openLimit = kOpenLimit;
        // How long one bulk write may wait for the device before the tunnel fails.
        std::chrono::milliseconds writeLimit{5000};
    };

    static bool isTunnelDevice(AbstractUSB::AbstractUSBDevice& device);
    // Claims the device's tunnel interface and sets the pipe up. Throws std::runtime_error
    // ("Unable to find interface", "Failed to take exclusive access of interface", or the
    // pipe's set-up errors).
    static std::unique_ptr<USBTunnelImpl>
    create(std::unique_ptr<AbstractUSB::AbstractUSBDevice> device,
           ConnectionClosedCallback connectionClosed, TunnelClosedCallback tunnelClosed,
           Options options);
    static std::unique_ptr<USBTunnelImpl>
    create(std::unique_ptr<AbstractUSB::AbstractUSBDevice> device,
           ConnectionClosedCallback connectionClosed, TunnelClosedCallback tunnelClosed)
    {
        return create(std::move(device), std::move(connectionClosed), std::move(tunnelClosed),
                      Options());
    }

    ~USBTunnelImpl() override;
    USBTunnelImpl(const USBTunnelImpl&) = delete;
    USBTunnelImpl& operator=(const USBTunnelImpl&) = delete;

    // Closes the transport on the work thread, after the call has returned: every pending
    // callback is told TunnelClosed, then connectionClosed and tunnelClosed follow. May be
    // called from a callback.
    void closeAll();
    // Ends the tunnel at once, from any thread but the work thread, also while the work
    // thread waits on a silent device: every pending callback is told TunnelClosed, later
    // operations are refused, and no connectionClosed or tunnelClosed follows.
    void shutdown();
    bool isClosed() const { return m_closed; }

    // An id for the caller's next open: never 0, never one in use on this tunnel (opening,
    // open, closing, or dropped here while the device may still hold it). It stays reserved
    // for the caller, who must open a connection with it; 0 when every id is taken.
    uint16_t newConnectionId();

    // Without the device's answer within the open limit the open completes with
    // ConnectionLost and its id stays out of use until the device's late answer (a late
    // "opened" is closed at once).
    bool openTCPConnection(uint16_t id, uint16_t port, EventCallback done);
    bool openTestConnection(uint16_t id, uint8_t a, uint64_t b, uint64_t c, EventCallback done);
    // The device's answer ends the connection; without one within the close limit the
    // connection is dropped here, pending reads and writes get ConnectionLost and the close
    // gets TunnelClosed.
    bool closeConnection(uint16_t id, EventCallback done);
    // Sends all length bytes as credit allows. A zero-length write completes at once.
    bool write(uint16_t id, const char* data, uint64_t length, WriteCallback done);
    bool write(uint16_t id, std::vector<char> data, WriteCallback done);
    // Completes with what is buffered (at most capacity bytes) as soon as anything is.
    bool read(uint16_t id, char* buffer, uint64_t capacity, ReadCallback done);
    bool read(uint16_t id, uint64_t capacity, VectorReadCallback done);
    // Runs the task on the work thread; a task still queued when the tunnel closes is
    // dropped without running.
    bool post(std::function<void()> task);

    // Wait for the asynchronous twin; TunnelClosed at once when the tunnel is closed.
    std::pair<OperationResult, ConnectionError> openTCPConnectionSync(uint16_t id, uint16_t port);
    std::pair<OperationResult, ConnectionError> openTestConnectionSync(uint16_t id, uint8_t a,
                                                                       uint64_t b, uint64_t c);
    std::pair<OperationResult, ConnectionError> closeConnectionSync(uint16_t id);
    OperationResult writeSync(uint16_t id, const char* data, uint64_t length);
    std::pair<OperationResult, uint64_t> readSync(uint16_t id, char* buffer, uint64_t capacity);

private:
    // Draining: closed by the device with bytes the reader has not taken yet.
    enum class State { Opening, Open, Closing, Draining };
    struct ConnectionRecord
    {
        uint64_t serial = 0;
        EventCallback eventCallback;
        ReadCallback readCallback;
        char* readBuffer = nullptr;
        uint64_t readCapacity = 0;
        bool transferInFlight = false;
        WriteCallback writeCallback;
        const char* writeData = nullptr;
        uint64_t writeRemaining = 0;
        bool tokensInFlight = false;
        State state = State::Opening;
        ConnectionBuffer buffer;
    };
    using SendOpen = std::function<bool(std::function<void(bool)>)>;

    USBTunnelImpl(std::unique_ptr<AbstractUSB::AbstractUSBDevice> device,
                  std::shared_ptr<AbstractUSB::AbstractUSBInterface> interface,
                  ConnectionClosedCallback connectionClosed, TunnelClosedCallback tunnelClosed,
                  Options options);

    bool postOperation(std::function<void()> work, std::function<void()> dropped);
    template<typename T, typename Start> T waitFor(T closedValue, Start start);

    // Work thread only from here on.
    ConnectionRecord* find(uint16_t id, uint64_t serial = 0);
    void open(uint16_t id, EventCallback done, const SendOpen& send);
    void close(uint16_t id, EventCallback done);
    void closeTimedOut(uint16_t id, uint64_t serial);
    void openTimedOut(uint16_t id, uint64_t serial);
    void dropUnanswered(uint16_t id, OperationResult event);
    void startWrite(uint16_t id, const char* data, uint64_t length, WriteCallback done);
    void pump(uint16_t id, ConnectionRecord& record);
    void transferDone(uint16_t id, uint64_t serial, uint32_t length, bool ok, uint64_t returned);
    void startRead(uint16_t id, char* buffer, uint64_t capacity, ReadCallback done);
    void serviceRead(uint16_t id, ConnectionRecord& record);
    void grant(uint16_t id, ConnectionRecord& record);
    // Takes the record out of the table; its id stays in use when the device may still
    // hold the connection.
    std::unique_ptr<ConnectionRecord> remove(uint16_t id, bool keepIdReserved);
    void closeTunnel(const QString& reason, bool shutDownPipe);
    static void failPending(ConnectionRecord& record, OperationResult readWrite,
                            OperationResult event);
    void releaseId(uint16_t id);
    void endDrained(uint16_t id);

    void connectionOpened(uint16_t id) override;
    void tokensReceived(uint16_t id, uint64_t count) override;
    void connectionClosed(uint16_t id, uint16_t error) override;
    bool payloadBegin(uint16_t id, uint64_t length) override;
    void payloadPiece(uint16_t id, const char* data, size_t size) override;
    void payloadEnd(uint16_t id) override;

    ConnectionClosedCallback m_connectionClosed;
    TunnelClosedCallback m_tunnelClosed;
    const Options m_options;
    std::map<uint16_t, std::unique_ptr<ConnectionRecord>> m_connections;
    uint64_t m_lastSerial = 0;
    // Ids dropped here after an open or a close the device never answered; payload for them
    // is dropped.
    std::set<uint16_t> m_staleIds;
    // The payload being received: its record, or serial 0 while it is dropped.
    uint16_t m_payloadId = 0;
    uint64_t m_payloadSerial = 0;
    std::atomic<bool> m_closed{false};

    // Ids reserved, in the table or stale; read by newConnectionId() from any thread.
    std::mutex m_idMutex;
    std::set<uint16_t> m_idsInUse;
    uint16_t m_lastId = 0;

    std::unique_ptr<AbstractUSB::AbstractUSBDevice> m_device;
    std::unique_ptr<USBBulkPipeInterface> m_pipe;
};

} // namespace USBTunnel
} // namespace CVN
