#include "sim/novarecorder/novatunnelfunction.h"

#include "sim/novarecorder/novatunnelwire.h"
#include "sim/usbbus/usbdstatus.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace Sim {

namespace {

constexpr uint8_t kClassOut = 0x21;
constexpr uint8_t kClassIn = 0xA1;
constexpr size_t kFillerForUnknownId = 16;

// A socket the relay thread may be polling: shutdown ends the TCP connection at once, where
// close alone waits for the poll to let go of it.
void closeSocket(int fd)
{
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

} // namespace

struct NovaTunnelFunction::Connection
{
    enum State { Connecting, Open, Closing };
    State state = Connecting;
    int fd = -1; // -1: a test connection
    uint8_t testMode = TestEcho;
    uint64_t sourceLeft = 0;
    uint64_t sourceSeed = 0;
    uint64_t sourceSent = 0;
    uint64_t credit = 0;          // bytes the unit may still send the host
    uint64_t allowance = 0;       // bytes the host may still send the unit
    uint64_t ungranted = 0;       // receive space freed and not granted yet
    std::vector<uint8_t> inbound; // from the host, not yet passed on
    size_t inboundAt = 0;

    size_t inboundPending() const { return inbound.size() - inboundAt; }
    void consume(size_t n)
    {
        inboundAt += n;
        ungranted += n;
        if (inboundAt == inbound.size()) {
            inbound.clear();
            inboundAt = 0;
        }
    }
};

NovaTunnelFunction::NovaTunnelFunction(Options options, std::function<void()> unplug, Post post)
    : m_options(options)
    , m_unplug(std::move(unplug))
    , m_post(std::move(post))
    , m_parser(this)
    , m_stream(options.maxPacket, options.seed, options.randomCuts)
{
}

NovaTunnelFunction::~NovaTunnelFunction()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        dropAllLocked();
    }
    wake();
    if (m_relay.joinable()) {
        // The relay thread may hold the last reference to the unit through an unplug.
        if (m_relay.get_id() == std::this_thread::get_id())
            m_relay.detach();
        else
            m_relay.join();
    }
    for (int fd : m_wakeFds)
        if (fd >= 0)
            ::close(fd);
}

uint8_t NovaTunnelFunction::testByte(uint64_t seed, uint64_t index)
{
    return uint8_t(seed + index * 7 + (index >> 10));
}

void NovaTunnelFunction::mapPort(uint16_t devicePort, uint16_t loopbackPort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports[devicePort] = loopbackPort;
}

void NovaTunnelFunction::setFaults(const Faults& faults)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_faults = faults;
    m_hostMessages = 0;
    m_bytesToHost = 0;
    m_misdeedDone = false;
}

void NovaTunnelFunction::misbehave(Misdeed misdeed)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    misdeedLocked(misdeed, 0);
    finish(lock);
}

std::vector<NovaTunnelFunction::Event> NovaTunnelFunction::log() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void NovaTunnelFunction::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

std::vector<NovaTunnelFunction::Event> NovaTunnelFunction::violations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Event> out;
    for (const Event& e : m_log)
        if (e.kind == Event::Violation)
            out.push_back(e);
    return out;
}

uint16_t NovaTunnelFunction::protocolVersion() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_version;
}

size_t NovaTunnelFunction::openConnections() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections.size();
}

int NovaTunnelFunction::splitAnswers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream.splitAnswers();
}

int NovaTunnelFunction::zeroLengthPacketsSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream.zeroLengthPackets();
}

int NovaTunnelFunction::zeroLengthPacketsReceived() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_zeroLengthIn;
}

// Completes what became due under the lock, then leaves the bus if a misdeed asked for it;
// neither may run under the lock, as both reach into the bus. Under the link model the
// answers wait for their bytes on the bus's worker instead.
void NovaTunnelFunction::finish(std::unique_lock<std::mutex>& lock)
{
    Ready ready;
    ready.swap(m_ready);
    const bool unplug = m_unplugDue;
    m_unplugDue = false;
    lock.unlock();
    if (m_options.bytesPerSecond && !ready.empty()) {
        postAnswers(std::move(ready), unplug);
        return;
    }
    for (auto& r : ready)
        r.transfer->complete(Usbd::kSuccess, r.data);
    if (unplug && m_unplug)
        m_unplug();
}

// The relay thread's finish: it must never hold the last reference to the unit, so what it
// completes goes to the bus's worker instead.
void NovaTunnelFunction::handOff(std::unique_lock<std::mutex>& lock)
{
    Ready ready;
    ready.swap(m_ready);
    const bool unplug = m_unplugDue;
    m_unplugDue = false;
    lock.unlock();
    if (!ready.empty() || unplug)
        postAnswers(std::move(ready), unplug);
}

// Each answer completes at its link time (at once without the model), the unplug after them.
void NovaTunnelFunction::postAnswers(Ready ready, bool unplug)
{
    if (!m_options.bytesPerSecond) {
        m_post(Clock::now(), [this, ready = std::move(ready), unplug] {
            for (auto& r : ready)
                r.transfer->complete(Usbd::kSuccess, r.data);
            if (unplug && m_unplug)
                m_unplug();
        });
        return;
    }
    Clock::time_point last = Clock::now();
    for (auto& r : ready) {
        last = std::max(last, r.due);
        m_post(r.due, [transfer = std::move(r.transfer), data = std::move(r.data)] {
            transfer->complete(Usbd::kSuccess, data);
        });
    }
    if (unplug)
        m_post(last, [this] {
            if (m_unplug)
                m_unplug();
        });
}

// ---- USB side ----

void NovaTunnelFunction::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_silent) {
        m_held.push_back(transfer);
        return;
    }
    uint32_t status = Usbd::kSuccess;
    std::vector<uint8_t> in;
    const std::vector<uint8_t>& out = transfer->outData();
    if (setup.requestType == kClassOut && setup.request == Reset) {
        dropAllLocked();
        m_stream.clear();
        m_parser.reset();
        m_heldOut.clear();
        m_broken = false;
    } else if (setup.requestType == kClassOut && setup.request == SetVersion) {
        const uint16_t wanted = out.size() >= 2 ? uint16_t(out[0] | out[1] << 8) : 0;
        if (wanted >= 1 && wanted <= 2 && wanted <= m_faults.maxVersion)
            m_version = wanted;
        else
            status = Usbd::kStall;
    } else if (setup.requestType == kClassOut && setup.request == Write) {
        if (out.empty())
            ++m_zeroLengthIn;
        takeLocked(out);
    } else if (setup.requestType == kClassIn && setup.request == Read) {
        in = m_stream.poll(setup.length, kControlPiece);
    } else {
        status = Usbd::kStall;
    }
    lock.unlock();
    // The caller waits for a control request anyway: it waits out the link here.
    if (!out.empty())
        std::this_thread::sleep_until(linkDue(0, out.size()));
    if (!in.empty())
        std::this_thread::sleep_until(linkDue(1, in.size()));
    transfer->complete(status, in);
    lock.lock();
    finish(lock);
}

void NovaTunnelFunction::bulkOut(const TransferPtr& transfer)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_silent) {
        m_held.push_back(transfer);
        return;
    }
    const std::vector<uint8_t>& data = transfer->outData();
    m_heldOut.insert(m_heldOut.end(), data.begin(), data.end());
    // Whole packets do not end a transfer: their bytes wait for a short or empty packet.
    if (data.empty() || data.size() % m_options.maxPacket != 0) {
        if (data.empty())
            ++m_zeroLengthIn;
        std::vector<uint8_t> whole;
        whole.swap(m_heldOut);
        takeLocked(whole);
    }
    lock.unlock();
    if (m_options.bytesPerSecond)
        m_post(linkDue(0, data.size()), [transfer] { transfer->complete(Usbd::kSuccess); });
    else
        transfer->complete(Usbd::kSuccess);
    lock.lock();
    finish(lock);
}

void NovaTunnelFunction::bulkIn(const TransferPtr& transfer)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t from = m_ready.size();
    m_stream.read(transfer, &m_ready);
    stampLocked(from);
    finish(lock);
}

void NovaTunnelFunction::resetPipe(uint8_t endpoint)
{
    std::vector<TransferPtr> aborted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (endpoint & 0x80) {
            for (auto& t : m_stream.takeReads())
                aborted.push_back(t);
        } else {
            for (auto it = m_held.begin(); it != m_held.end();) {
                if ((*it)->kind() == Transfer::BulkOut) {
                    aborted.push_back(*it);
                    it = m_held.erase(it);
                } else {
                    ++it;
                }
            }
            m_heldOut.clear();
        }
    }
    for (auto& t : aborted)
        t->complete(Usbd::kCanceled);
}

void NovaTunnelFunction::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    dropAllLocked();
    m_stream.takeReads();
    m_stream.clear();
    m_stream.setSilent(false, &m_ready);
    m_ready.clear();
    m_held.clear();
    m_heldOut.clear();
    m_parser.reset();
    m_broken = false;
    m_silent = false;
    m_unplugDue = false;
}

void NovaTunnelFunction::takeLocked(const std::vector<uint8_t>& data)
{
    if (m_broken || data.empty())
        return;
    if (!m_parser.feed(data.data(), data.size())) {
        m_broken = true;
        violationLocked(0, "broken stream: " + m_parser.error());
    }
}

// ---- the host's messages ----

void NovaTunnelFunction::hostMessageLocked(uint16_t type, uint16_t connection, uint64_t value,
                                           uint64_t tokens)
{
    m_log.push_back(Event{Event::FromHost, type, connection, value, tokens, {}});
    ++m_hostMessages;
    if (m_faults.misdeed != Misdeed::None && !m_misdeedDone &&
        m_faults.atHostMessage == m_hostMessages) {
        m_misdeedDone = true;
        misdeedLocked(m_faults.misdeed, connection);
    }
}

void NovaTunnelFunction::openTCP(uint16_t connection, uint16_t port)
{
    hostMessageLocked(NovaTunnelWire::OpenConnection, connection, port, 0);
    if (m_connections.count(connection)) {
        violationLocked(connection, "open of a connection in use");
        closeLocked(connection, IdInUse);
        return;
    }
    if (m_faults.refuseOpens) {
        closeLocked(connection, m_faults.refuseOpens);
        return;
    }
    auto mapped = m_ports.find(port);
    if (mapped == m_ports.end()) {
        closeLocked(connection, NoRoute);
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(mapped->second);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int result =
        fd < 0 ? -1 : ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result != 0 && (fd < 0 || errno != EINPROGRESS)) {
        closeSocket(fd);
        closeLocked(connection, Refused);
        return;
    }
    Connection& c = m_connections[connection];
    c.fd = fd;
    if (result == 0)
        openedLocked(connection, c);
    startRelayLocked();
    wake();
}

void NovaTunnelFunction::openTest(uint16_t connection, uint8_t a, uint64_t b, uint64_t c)
{
    hostMessageLocked(NovaTunnelWire::OpenConnection, connection, a, 0);
    if (m_connections.count(connection)) {
        violationLocked(connection, "open of a connection in use");
        closeLocked(connection, IdInUse);
        return;
    }
    if (m_faults.refuseOpens || (a != TestEcho && a != TestSource)) {
        closeLocked(connection,
                    m_faults.refuseOpens ? m_faults.refuseOpens : uint16_t(UnknownTest));
        return;
    }
    Connection& record = m_connections[connection];
    record.testMode = a;
    record.sourceLeft = a == TestSource ? b : 0;
    record.sourceSeed = c;
    openedLocked(connection, record);
    startRelayLocked();
    wake();
}

void NovaTunnelFunction::tokens(uint16_t connection, uint64_t count)
{
    hostMessageLocked(NovaTunnelWire::Tokens, connection, count, 0);
    auto it = m_connections.find(connection);
    if (it == m_connections.end())
        return;
    it->second.credit =
        saturatingAdd(it->second.credit,
                      count > std::numeric_limits<uint64_t>::max() / NovaTunnelWire::kTokenBytes
                          ? std::numeric_limits<uint64_t>::max()
                          : count * NovaTunnelWire::kTokenBytes);
    wake();
}

void NovaTunnelFunction::close(uint16_t connection)
{
    hostMessageLocked(NovaTunnelWire::CloseConnection, connection, 0, 0);
    auto it = m_connections.find(connection);
    // Gone already: the unit closed it on its own and the host has not heard yet.
    if (it == m_connections.end())
        return;
    if (it->second.state == Connection::Connecting) {
        closeLocked(connection, NoError);
        return;
    }
    it->second.state = Connection::Closing;
    wake();
}

void NovaTunnelFunction::payloadBegin(uint16_t connection, uint16_t type, uint64_t length,
                                      uint64_t tokens)
{
    hostMessageLocked(type, connection, length, tokens);
    m_payloadConnection = connection;
    m_payloadTaken = false;
    if (type == NovaTunnelWire::TransferTokens && m_version < 2)
        violationLocked(connection, "type 7 under protocol 1");
    auto it = m_connections.find(connection);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    if (tokens) {
        c.credit = saturatingAdd(c.credit, tokens * NovaTunnelWire::kTokenBytes);
        wake();
    }
    if (c.state == Connection::Closing)
        return;
    if (length > c.allowance) {
        violationLocked(connection, "payload of " + std::to_string(length) +
                                        " bytes over the unit's grant of " +
                                        std::to_string(c.allowance));
        closeLocked(connection, OverCredit);
        return;
    }
    c.allowance -= length;
    m_payloadTaken = true;
}

void NovaTunnelFunction::payloadPiece(uint16_t connection, const uint8_t* data, size_t size)
{
    if (!m_payloadTaken)
        return;
    auto it = m_connections.find(connection);
    if (it != m_connections.end())
        it->second.inbound.insert(it->second.inbound.end(), data, data + size);
}

void NovaTunnelFunction::payloadEnd(uint16_t)
{
    m_payloadTaken = false;
    wake();
}

// ---- the unit's messages ----

void NovaTunnelFunction::emitLocked(const std::vector<uint8_t>& bytes, uint16_t type,
                                    uint16_t connection, uint64_t value, uint64_t tokens)
{
    m_log.push_back(Event{Event::ToHost, type, connection, value, tokens, {}});
    const size_t from = m_ready.size();
    m_stream.append(bytes, &m_ready);
    stampLocked(from);
}

void NovaTunnelFunction::violationLocked(uint16_t connection, std::string detail)
{
    m_log.push_back(Event{Event::Violation, 0, connection, 0, 0, std::move(detail)});
}

void NovaTunnelFunction::openedLocked(uint16_t id, Connection& c)
{
    c.state = Connection::Open;
    std::vector<uint8_t> bytes;
    NovaTunnelWire::opened(&bytes, id);
    emitLocked(bytes, NovaTunnelWire::ConnectionOpened, id, 0);
    c.ungranted = m_options.window;
    grantLocked(id, c);
}

// The connection goes (its socket closed) and the host is told with error.
void NovaTunnelFunction::closeLocked(uint16_t id, uint16_t error)
{
    auto it = m_connections.find(id);
    if (it != m_connections.end()) {
        closeSocket(it->second.fd);
        m_connections.erase(it);
    }
    std::vector<uint8_t> bytes;
    NovaTunnelWire::closed(&bytes, id, error);
    emitLocked(bytes, NovaTunnelWire::ConnectionClosed, id, error);
}

void NovaTunnelFunction::sendPayloadLocked(uint16_t id, Connection& c, const uint8_t* data,
                                           size_t n)
{
    c.credit -= n;
    std::vector<uint8_t> bytes;
    const uint64_t carried = m_version >= 2 ? c.ungranted / NovaTunnelWire::kTokenBytes : 0;
    if (carried) {
        c.ungranted -= carried * NovaTunnelWire::kTokenBytes;
        c.allowance += carried * NovaTunnelWire::kTokenBytes;
        NovaTunnelWire::transferTokens(&bytes, id, n, carried);
    } else {
        NovaTunnelWire::transfer(&bytes, id, n);
    }
    bytes.insert(bytes.end(), data, data + n);
    emitLocked(bytes, carried ? NovaTunnelWire::TransferTokens : NovaTunnelWire::Transfer, id, n,
               carried);
    m_bytesToHost += n;
    if (m_faults.misdeed != Misdeed::None && !m_misdeedDone && m_faults.afterBytesToHost &&
        m_bytesToHost >= m_faults.afterBytesToHost) {
        m_misdeedDone = true;
        misdeedLocked(m_faults.misdeed, id);
    }
}

// Grants whole KiB of freed space in steps of a quarter window, or whatever there is once
// every byte went on. Under protocol 2 a grant below a quarter waits to ride on a payload.
void NovaTunnelFunction::grantLocked(uint16_t id, Connection& c)
{
    const uint64_t t = c.ungranted / NovaTunnelWire::kTokenBytes;
    const bool large = c.ungranted >= m_options.window / 4;
    if (c.state != Connection::Open || t == 0 ||
        (!large && (c.inboundPending() > 0 || m_version >= 2)))
        return;
    c.ungranted -= t * NovaTunnelWire::kTokenBytes;
    c.allowance += t * NovaTunnelWire::kTokenBytes;
    std::vector<uint8_t> bytes;
    NovaTunnelWire::tokens(&bytes, id, t);
    emitLocked(bytes, NovaTunnelWire::Tokens, id, t);
}

NovaTunnelFunction::Connection* NovaTunnelFunction::pickLocked(uint16_t connection)
{
    auto it = m_connections.find(connection);
    if (it != m_connections.end() && it->second.state == Connection::Open)
        return &it->second;
    for (auto& entry : m_connections)
        if (entry.second.state == Connection::Open)
            return &entry.second;
    return nullptr;
}

void NovaTunnelFunction::misdeedLocked(Misdeed misdeed, uint16_t connection)
{
    Event e;
    e.kind = Event::Misbehaved;
    e.type = uint16_t(misdeed);
    e.connection = connection;
    std::vector<uint8_t> bytes;
    Connection* c = pickLocked(connection);
    uint16_t id = connection;
    if (c) {
        for (const auto& entry : m_connections)
            if (&entry.second == c)
                id = entry.first;
    }
    switch (misdeed) {
    case Misdeed::None:
        return;
    case Misdeed::UnknownType:
        NovaTunnelWire::header(&bytes, m_faults.unknownType, id);
        emitLocked(bytes, m_faults.unknownType, id, 0);
        break;
    case Misdeed::PayloadOverCredit:
    case Misdeed::PayloadOverRing: {
        uint64_t n = kHostRing + 1;
        if (misdeed == Misdeed::PayloadOverCredit) {
            if (!c) {
                e.detail = "no open connection";
                break;
            }
            n = c->credit + NovaTunnelWire::kTokenBytes;
            c->credit = 0;
        }
        NovaTunnelWire::transfer(&bytes, id, n);
        bytes.resize(bytes.size() + n, 0xEE);
        emitLocked(bytes, NovaTunnelWire::Transfer, id, n);
        e.value = n;
        break;
    }
    case Misdeed::UnknownConnection: {
        uint16_t unknown = 0xFFFF;
        while (m_connections.count(unknown))
            --unknown;
        NovaTunnelWire::transfer(&bytes, unknown, kFillerForUnknownId);
        bytes.resize(bytes.size() + kFillerForUnknownId, 0xEE);
        emitLocked(bytes, NovaTunnelWire::Transfer, unknown, kFillerForUnknownId);
        id = unknown;
        break;
    }
    case Misdeed::Silence:
        m_silent = true;
        m_stream.setSilent(true, &m_ready);
        break;
    case Misdeed::Unplug:
        // Nothing more reaches the host from a unit on its way off the bus: reads that the
        // bus's worker registers before the unplug gets there stay unanswered.
        m_unplugDue = true;
        m_stream.setSilent(true, &m_ready);
        break;
    }
    e.connection = id;
    m_log.push_back(e);
}

void NovaTunnelFunction::dropAllLocked()
{
    for (auto& entry : m_connections)
        closeSocket(entry.second.fd);
    m_connections.clear();
    wake();
}

// ---- the relay: sockets and test connections ----

NovaTunnelFunction::Clock::time_point NovaTunnelFunction::linkDue(int direction, size_t size)
{
    const Clock::time_point now = Clock::now();
    if (m_options.bytesPerSecond == 0)
        return now;
    const double rate = double(m_options.bytesPerSecond);
    std::lock_guard<std::mutex> lock(m_linkMutex);
    Bucket& b = m_buckets[direction];
    if (!b.started) {
        b.tokens = m_options.rateBurst;
        b.started = true;
    } else {
        b.tokens += rate * std::chrono::duration<double>(now - b.at).count();
    }
    b.tokens = std::min(b.tokens, double(m_options.rateBurst)) - double(size);
    b.at = now;
    if (b.tokens >= 0)
        return now;
    // In debt: the bytes are through once the bucket has refilled to zero.
    return now + std::chrono::duration_cast<Clock::duration>(
                     std::chrono::duration<double>(-b.tokens / rate));
}

void NovaTunnelFunction::stampLocked(size_t from)
{
    // An empty answer (a zero-length packet) still queues behind the bytes before it.
    for (size_t i = from; i < m_ready.size(); ++i)
        m_ready[i].due = linkDue(1, m_ready[i].data.size());
}

void NovaTunnelFunction::startRelayLocked()
{
    if (m_relay.joinable() || m_stop)
        return;
    if (::pipe2(m_wakeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    m_relay = std::thread([this] { relayLoop(); });
}

void NovaTunnelFunction::wake()
{
    const int fd = m_wakeFds[1];
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
}

// Moves what can move without waiting: test connections, finished closes, grants.
void NovaTunnelFunction::pumpLocked()
{
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        const uint16_t id = it->first;
        Connection& c = it->second;
        ++it;
        if (c.state == Connection::Connecting)
            continue;
        if (c.fd < 0 && c.state == Connection::Open) {
            if (c.testMode == TestEcho) {
                for (;;) {
                    const size_t n = size_t(
                        std::min<uint64_t>({c.credit, c.inboundPending(), m_options.maxPayload}));
                    if (n == 0)
                        break;
                    sendPayloadLocked(id, c, c.inbound.data() + c.inboundAt, n);
                    c.consume(n);
                }
            } else {
                std::vector<uint8_t> data;
                for (;;) {
                    const size_t n =
                        size_t(std::min<uint64_t>({c.credit, c.sourceLeft, m_options.maxPayload}));
                    if (n == 0)
                        break;
                    data.resize(n);
                    for (size_t i = 0; i < n; ++i)
                        data[i] = testByte(c.sourceSeed, c.sourceSent + i);
                    sendPayloadLocked(id, c, data.data(), n);
                    c.sourceSent += n;
                    c.sourceLeft -= n;
                }
                // Host bytes to a source are taken and dropped.
                c.consume(c.inboundPending());
                if (c.sourceLeft == 0) {
                    closeLocked(id, NoError);
                    continue;
                }
            }
        }
        if (c.state == Connection::Closing && (c.fd < 0 || c.inboundPending() == 0)) {
            closeLocked(id, NoError);
            continue;
        }
        grantLocked(id, c);
    }
}

void NovaTunnelFunction::relayLoop()
{
    std::vector<uint8_t> buffer(m_options.maxPayload);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        pumpLocked();
        std::vector<pollfd> fds;
        std::vector<uint16_t> ids;
        fds.push_back({m_wakeFds[0], POLLIN, 0});
        ids.push_back(0);
        for (const auto& entry : m_connections) {
            const Connection& c = entry.second;
            if (c.fd < 0)
                continue;
            short events = 0;
            if (c.state == Connection::Connecting)
                events = POLLOUT;
            else if (c.inboundPending() > 0)
                events = POLLOUT;
            if (c.state == Connection::Open && c.credit > 0)
                events |= POLLIN;
            if (events) {
                fds.push_back({c.fd, events, 0});
                ids.push_back(entry.first);
            }
        }
        handOff(lock);
        ::poll(fds.data(), fds.size(), -1);
        lock.lock();
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(m_wakeFds[0], drain, sizeof drain) > 0) {
            }
        }
        for (size_t i = 1; i < fds.size() && !m_stop; ++i) {
            auto it = m_connections.find(ids[i]);
            // Gone, or replaced by a connection of the same id, while the lock was free.
            if (it == m_connections.end() || it->second.fd != fds[i].fd || !fds[i].revents)
                continue;
            const uint16_t id = ids[i];
            Connection& c = it->second;
            if (c.state == Connection::Connecting) {
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &size);
                if (error == 0 && !(fds[i].revents & POLLERR))
                    openedLocked(id, c);
                else
                    closeLocked(id, Refused);
                continue;
            }
            if ((fds[i].revents & POLLOUT) && c.inboundPending() > 0) {
                const ssize_t n = ::send(c.fd, c.inbound.data() + c.inboundAt, c.inboundPending(),
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    c.consume(size_t(n));
                } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                    closeLocked(id, SocketError);
                    continue;
                }
            }
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && c.state == Connection::Open &&
                c.credit > 0) {
                const size_t want = size_t(std::min<uint64_t>(c.credit, buffer.size()));
                const ssize_t n = ::recv(c.fd, buffer.data(), want, MSG_DONTWAIT);
                if (n > 0)
                    sendPayloadLocked(id, c, buffer.data(), size_t(n));
                else if (n == 0)
                    closeLocked(id, NoError); // the server closed: its last byte went first
                else if (errno != EAGAIN && errno != EWOULDBLOCK)
                    closeLocked(id, SocketError);
            } else if (fds[i].revents & POLLERR) {
                closeLocked(id, SocketError);
            }
        }
    }
}

} // namespace Sim
