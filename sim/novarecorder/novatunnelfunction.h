#pragma once

#include "sim/novarecorder/novatunnelparser.h"
#include "sim/novarecorder/novatunnelstream.h"
#include "sim/usbbus/transfer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Sim {

// The unit's side of the USB tunnel (interface class 0xFF/5): TCP connections that the host
// opens are made to loopback ports the test maps, and their bytes relayed both ways.
//
// USB: class request 1 resets the function (every connection dropped), 3 selects the
// protocol version (u16 little-endian, 1 or 2), 4 carries the host's stream in control mode
// and 5 polls the unit's (u16 big-endian count, then up to 1024 bytes). With bulk pipes the
// host's stream comes on the OUT pipe, where a write of whole packets is taken only once a
// short or zero-length packet ends it, and the unit's goes out on the IN pipe, cut at seeded
// random points (NovaTunnelStream).
//
// Connections: an open of kind 1 to a mapped device port connects to 127.0.0.1:<mapped>;
// kind 2 is a test connection, a = 0 echoes the host's bytes back, a = 1 sends b bytes of
// testByte(c, i) and closes. The unit grants the host its window (Options::window) in 1 KiB
// tokens once opened, and again as bytes leave it; it sends the host no more than the host
// granted, and uses type 7 to carry its grants under protocol 2. A connection whose server
// closes is closed to the host after its last byte.
//
// Fault knobs (Faults, counted from setFaults; misbehave() does a misdeed at once):
// - refuseOpens: every open is answered "closed" with this error instead of "opened";
// - maxVersion: versions above it are refused (1: the host must fall back);
// - misdeed at the atHostMessage-th host message, or once afterBytesToHost payload bytes
//   went to the host:
//   UnknownType       a header of type unknownType;
//   PayloadOverCredit a transfer of the connection's credit + 1 KiB (credit then spent);
//   PayloadOverRing   a transfer of kHostRing + 1 bytes, whatever the credit;
//   UnknownConnection a 16-byte transfer for an id that is not open;
//   Silence           no transfer of the interface is answered any more (held until the
//                     host resets the pipe; control requests time out);
//   Unplug            the unit leaves the bus.
// The misdeeds pick the connection of the message that set them off when it is open, else
// the lowest open one.
//
// The host's mistakes are logged as Violation events: a payload over the unit's grant (the
// connection is then closed with OverCredit), an open of an id in use (IdInUse), type 7
// under protocol 1, and a broken stream (the function then ignores the host until reset).
class NovaTunnelFunction : private NovaTunnelParser::Sink
{
public:
    enum Request : uint8_t { Reset = 1, SetVersion = 3, Write = 4, Read = 5 };
    // The unit's ConnectionError words.
    enum Error : uint16_t {
        NoError = 0,
        NoRoute = 1,     // the device port is not mapped
        Refused = 2,     // nothing listens on the mapped port
        SocketError = 3, // the connection failed while open
        IdInUse = 4,
        OverCredit = 5,
        UnknownTest = 6,
    };
    enum class Misdeed {
        None,
        UnknownType,
        PayloadOverCredit,
        PayloadOverRing,
        UnknownConnection,
        Silence,
        Unplug
    };
    enum TestMode : uint8_t { TestEcho = 0, TestSource = 1 };

    static constexpr uint64_t kHostRing = 4194304;
    static constexpr uint16_t kControlPiece = 1024;

    struct Options
    {
        uint16_t maxPacket = 512;
        uint32_t window = 65536;     // receive space granted per connection (at least 1 KiB)
        uint32_t maxPayload = 16384; // largest payload of one message to the host
        uint32_t seed = 1;           // of the random cuts
        bool randomCuts = true;
        // A link model: each direction moves at most this many bytes a second (0: no limit).
        // A token bucket per direction, holding up to rateBurst bytes. A transfer's bytes
        // cross once they can (a read answered: the host's read is queued and the unit's bytes
        // are there; a write or control request: as it comes), behind those before them, and
        // the transfer completes once they are through. So the link keeps moving while the
        // host has reads queued, whenever the host or the bus's worker gets to run, and no
        // thread waits out the link but a control request's caller.
        uint64_t bytesPerSecond = 0;
        uint32_t rateBurst = 65536;
    };

    struct Faults
    {
        uint16_t refuseOpens = 0;
        uint16_t maxVersion = 2;
        Misdeed misdeed = Misdeed::None;
        int atHostMessage = 0;
        uint64_t afterBytesToHost = 0;
        uint16_t unknownType = 8;
    };

    // One message as it crossed, or something that went wrong. value: the port of an open
    // (a of a test open), the count of a tokens message, the length of a transfer, the
    // error of a closed message; tokens: the count a type-7 message carried.
    struct Event
    {
        enum Kind { FromHost, ToHost, Violation, Misbehaved };
        Kind kind = FromHost;
        uint16_t type = 0;
        uint16_t connection = 0;
        uint64_t value = 0;
        uint64_t tokens = 0;
        std::string detail;
    };

    using Clock = std::chrono::steady_clock;
    using Post = std::function<void(Clock::time_point due, std::function<void()> work)>;

    // unplug takes the unit off the bus; it is called without the function's lock held.
    // post runs work at due, in order of due time and then of posting, on a thread that may
    // drop the last reference to the unit (the bus's worker): the relay thread hands it what
    // it completes, as a completion may do that, and so does the link model.
    NovaTunnelFunction(Options options, std::function<void()> unplug, Post post);
    ~NovaTunnelFunction() override;

    NovaTunnelFunction(const NovaTunnelFunction&) = delete;
    NovaTunnelFunction& operator=(const NovaTunnelFunction&) = delete;

    static uint8_t testByte(uint64_t seed, uint64_t index);

    void mapPort(uint16_t devicePort, uint16_t loopbackPort);
    void setFaults(const Faults& faults);
    void misbehave(Misdeed misdeed);

    void control(const TransferPtr& transfer);
    void bulkOut(const TransferPtr& transfer);
    void bulkIn(const TransferPtr& transfer);
    void resetPipe(uint8_t endpoint);
    // The unit left the bus: every connection goes, its socket closed.
    void reset();

    std::vector<Event> log() const;
    void clearLog();
    std::vector<Event> violations() const;
    uint16_t protocolVersion() const;
    size_t openConnections() const;
    int splitAnswers() const;
    int zeroLengthPacketsSent() const;
    int zeroLengthPacketsReceived() const;

private:
    struct Connection;
    using Ready = NovaTunnelStream::Ready;

    void openTCP(uint16_t connection, uint16_t port) override;
    void openTest(uint16_t connection, uint8_t a, uint64_t b, uint64_t c) override;
    void tokens(uint16_t connection, uint64_t count) override;
    void close(uint16_t connection) override;
    void payloadBegin(uint16_t connection, uint16_t type, uint64_t length,
                      uint64_t tokens) override;
    void payloadPiece(uint16_t connection, const uint8_t* data, size_t size) override;
    void payloadEnd(uint16_t connection) override;

    void takeLocked(const std::vector<uint8_t>& data);
    void hostMessageLocked(uint16_t type, uint16_t connection, uint64_t value, uint64_t tokens);
    void misdeedLocked(Misdeed misdeed, uint16_t connection);
    Connection* pickLocked(uint16_t connection);
    void emitLocked(const std::vector<uint8_t>& bytes, uint16_t type, uint16_t connection,
                    uint64_t value, uint64_t tokens = 0);
    void openedLocked(uint16_t id, Connection& c);
    void closeLocked(uint16_t id, uint16_t error);
    void sendPayloadLocked(uint16_t id, Connection& c, const uint8_t* data, size_t n);
    void grantLocked(uint16_t id, Connection& c);
    void violationLocked(uint16_t connection, std::string detail);
    void dropAllLocked();
    void pumpLocked();
    void finish(std::unique_lock<std::mutex>& lock);
    void handOff(std::unique_lock<std::mutex>& lock);
    void postAnswers(Ready ready, bool unplug);
    // Under the link model: when size bytes that can cross now are through in one direction
    // (0 out, 1 in), behind the bytes before them; now without the model.
    Clock::time_point linkDue(int direction, size_t size);
    // Stamps the answers from index from on with their link times.
    void stampLocked(size_t from);
    void startRelayLocked();
    void wake();
    void relayLoop();

    const Options m_options;
    const std::function<void()> m_unplug;
    const Post m_post;

    mutable std::mutex m_mutex;
    NovaTunnelParser m_parser;
    NovaTunnelStream m_stream;
    Faults m_faults;
    std::map<uint16_t, uint16_t> m_ports;
    std::map<uint16_t, Connection> m_connections;
    std::vector<Event> m_log;
    std::vector<uint8_t> m_heldOut;  // whole packets waiting for their end
    std::vector<TransferPtr> m_held; // transfers of a silent unit
    Ready m_ready;                   // completions due once the lock is released
    uint16_t m_version = 2;
    bool m_broken = false;
    bool m_silent = false;
    bool m_unplugDue = false;
    bool m_misdeedDone = false;
    int m_hostMessages = 0;
    uint64_t m_bytesToHost = 0;
    int m_zeroLengthIn = 0;
    uint16_t m_payloadConnection = 0;
    bool m_payloadTaken = false;

    struct Bucket
    {
        double tokens = 0;
        Clock::time_point at;
        bool started = false;
    };
    std::mutex m_linkMutex;
    Bucket m_buckets[2];

    bool m_stop = false;
    int m_wakeFds[2] = {-1, -1};
    std::thread m_relay;
};

} // namespace Sim
