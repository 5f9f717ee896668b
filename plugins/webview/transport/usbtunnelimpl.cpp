#include "plugins/webview/transport/usbtunnelimpl.h"

#include "plugins/webview/transport/abstractusbdevice.h"
#include "plugins/webview/transport/usbbulkpipeinterface.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <algorithm>
#include <condition_variable>
#include <stdexcept>

namespace CVN {
namespace USBTunnel {

namespace {

Q_LOGGING_CATEGORY(lcTunnel, "pellworth.webview.tunnel", QtWarningMsg)

// One synchronous call's result, handed over from the work thread.
template<typename T> class Waiter
{
public:
    void set(T value)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_value = std::move(value);
            m_done = true;
        }
        m_changed.notify_all();
    }
    T wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_done; });
        return m_value;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    T m_value{};
};

template<typename F> F takeOut(F& callback)
{
    F out = std::move(callback);
    callback = nullptr;
    return out;
}

} // namespace

bool USBTunnelImpl::isTunnelDevice(AbstractUSB::AbstractUSBDevice& device)
{
    return device.vendorId() == kVendorId &&
           !device.interfaces(kInterfaceClass, kInterfaceSubclass).empty();
}

std::unique_ptr<USBTunnelImpl>
USBTunnelImpl::create(std::unique_ptr<AbstractUSB::AbstractUSBDevice> device,
                      ConnectionClosedCallback connectionClosed, TunnelClosedCallback tunnelClosed,
                      Options options)
{
    std::shared_ptr<AbstractUSB::AbstractUSBInterface> interface =
        device->openInterface(kInterfaceClass, kInterfaceSubclass);
    if (!interface)
        throw std::runtime_error("Unable to find interface");
    if (!interface->open())
        throw std::runtime_error("Failed to take exclusive access of interface");
    return std::unique_ptr<USBTunnelImpl>(new USBTunnelImpl(std::move(device), std::move(interface),
                                                            std::move(connectionClosed),
                                                            std::move(tunnelClosed), options));
}

USBTunnelImpl::USBTunnelImpl(std::unique_ptr<AbstractUSB::AbstractUSBDevice> device,
                             std::shared_ptr<AbstractUSB::AbstractUSBInterface> interface,
                             ConnectionClosedCallback connectionClosed,
                             TunnelClosedCallback tunnelClosed, Options options)
    : m_connectionClosed(std::move(connectionClosed))
    , m_tunnelClosed(std::move(tunnelClosed))
    , m_options(options)
    , m_device(std::move(device))
{
    m_pipe = std::make_unique<USBBulkPipeInterface>(
        std::move(interface), static_cast<USBTunnelMessageReader::Sink*>(this),
        [this](const QString& reason) { closeTunnel(reason, false); }, m_options.keepAliveInterval,
        m_options.writeLimit);
    m_pipe->setUp();
}

USBTunnelImpl::~USBTunnelImpl()
{
    shutdown();
}

void USBTunnelImpl::shutdown()
{
    m_closed = true;
    // Stops the work thread: the table is this thread's from here on.
    m_pipe->shutdown();
    for (auto& entry : m_connections)
        failPending(*entry.second, TunnelClosed, TunnelClosed);
}

void USBTunnelImpl::closeAll()
{
    // Posted even from the work thread, so no callback is told inside another one.
    if (!m_closed)
        m_pipe->post([this] { closeTunnel(QStringLiteral("closed by its owner"), true); });
}

uint16_t USBTunnelImpl::newConnectionId()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    for (int tries = 0; tries < 0x10000; ++tries) {
        ++m_lastId;
        if (m_lastId != 0 && m_idsInUse.insert(m_lastId).second)
            return m_lastId;
    }
    return 0;
}

void USBTunnelImpl::releaseId(uint16_t id)
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    m_idsInUse.erase(id);
}

bool USBTunnelImpl::postOperation(std::function<void()> work, std::function<void()> dropped)
{
    if (m_closed)
        return false;
    return m_pipe->post(std::move(work), std::move(dropped));
}

bool USBTunnelImpl::openTCPConnection(uint16_t id, uint16_t port, EventCallback done)
{
    auto callback = std::make_shared<EventCallback>(std::move(done));
    return postOperation(
        [this, id, port, callback] {
            open(id, std::move(*callback), [this, id, port](std::function<void(bool)> sent) {
                return m_pipe->sendOpenConnectionTCPMessage(id, port, std::move(sent));
            });
        },
        [callback] { (*callback)(TunnelClosed, 0); });
}

bool USBTunnelImpl::openTestConnection(uint16_t id, uint8_t a, uint64_t b, uint64_t c,
                                       EventCallback done)
{
    auto callback = std::make_shared<EventCallback>(std::move(done));
    return postOperation(
        [this, id, a, b, c, callback] {
            open(id, std::move(*callback), [this, id, a, b, c](std::function<void(bool)> sent) {
                return m_pipe->sendOpenConnectionTestMessage(id, a, b, c, std::move(sent));
            });
        },
        [callback] { (*callback)(TunnelClosed, 0); });
}

bool USBTunnelImpl::closeConnection(uint16_t id, EventCallback done)
{
    auto callback = std::make_shared<EventCallback>(std::move(done));
    return postOperation([this, id, callback] { close(id, std::move(*callback)); },
                         [callback] { (*callback)(TunnelClosed, 0); });
}

bool USBTunnelImpl::write(uint16_t id, const char* data, uint64_t length, WriteCallback done)
{
    auto callback = std::make_shared<WriteCallback>(std::move(done));
    return postOperation(
        [this, id, data, length, callback] { startWrite(id, data, length, std::move(*callback)); },
        [callback] { (*callback)(TunnelClosed); });
}

bool USBTunnelImpl::write(uint16_t id, std::vector<char> data, WriteCallback done)
{
    auto owned = std::make_shared<std::vector<char>>(std::move(data));
    const char* bytes = owned->data();
    const uint64_t length = owned->size();
    return write(id, bytes, length, [owned, done = std::move(done)](OperationResult result) {
        if (done)
            done(result);
    });
}

bool USBTunnelImpl::read(uint16_t id, char* buffer, uint64_t capacity, ReadCallback done)
{
    auto callback = std::make_shared<ReadCallback>(std::move(done));
    return postOperation([this, id, buffer, capacity,
                          callback] { startRead(id, buffer, capacity, std::move(*callback)); },
                         [callback] { (*callback)(TunnelClosed, 0); });
}

bool USBTunnelImpl::read(uint16_t id, uint64_t capacity, VectorReadCallback done)
{
    auto buffer = std::make_shared<std::vector<char>>(capacity);
    char* bytes = buffer->data();
    return read(id, bytes, capacity,
                [buffer, done = std::move(done)](OperationResult result, uint64_t n) {
                    buffer->resize(n);
                    if (done)
                        done(result, std::move(*buffer));
                });
}

bool USBTunnelImpl::post(std::function<void()> task)
{
    return postOperation(std::move(task), {});
}

template<typename T, typename Start> T USBTunnelImpl::waitFor(T closedValue, Start start)
{
    if (m_pipe->isWorkThread())
        throw std::logic_error(
            "Synchronous USBTunnel functions cannot be called on the USBTunnel work thread");
    auto waiter = std::make_shared<Waiter<T>>();
    if (!start([waiter](T value) { waiter->set(std::move(value)); }))
        return closedValue;
    return waiter->wait();
}

std::pair<OperationResult, ConnectionError> USBTunnelImpl::openTCPConnectionSync(uint16_t id,
                                                                                 uint16_t port)
{
    using Result = std::pair<OperationResult, ConnectionError>;
    return waitFor(Result(TunnelClosed, 0), [&](std::function<void(Result)> set) {
        return openTCPConnection(id, port, [set](OperationResult r, ConnectionError e) {
            set({r, e});
        });
    });
}

std::pair<OperationResult, ConnectionError>
USBTunnelImpl::openTestConnectionSync(uint16_t id, uint8_t a, uint64_t b, uint64_t c)
{
    using Result = std::pair<OperationResult, ConnectionError>;
    return waitFor(Result(TunnelClosed, 0), [&](std::function<void(Result)> set) {
        return openTestConnection(id, a, b, c, [set](OperationResult r, ConnectionError e) {
            set({r, e});
        });
    });
}

std::pair<OperationResult, ConnectionError> USBTunnelImpl::closeConnectionSync(uint16_t id)
{
    using Result = std::pair<OperationResult, ConnectionError>;
    return waitFor(Result(TunnelClosed, 0), [&](std::function<void(Result)> set) {
        return closeConnection(id, [set](OperationResult r, ConnectionError e) { set({r, e}); });
    });
}

OperationResult USBTunnelImpl::writeSync(uint16_t id, const char* data, uint64_t length)
{
    return waitFor(TunnelClosed, [&](std::function<void(OperationResult)> set) {
        return write(id, data, length, set);
    });
}

std::pair<OperationResult, uint64_t> USBTunnelImpl::readSync(uint16_t id, char* buffer,
                                                             uint64_t capacity)
{
    using Result = std::pair<OperationResult, uint64_t>;
    return waitFor(Result(TunnelClosed, 0), [&](std::function<void(Result)> set) {
        return read(id, buffer, capacity, [set](OperationResult r, uint64_t n) { set({r, n}); });
    });
}

// ---- work thread ----

USBTunnelImpl::ConnectionRecord* USBTunnelImpl::find(uint16_t id, uint64_t serial)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end() || (serial != 0 && it->second->serial != serial))
        return nullptr;
    return it->second.get();
}

std::unique_ptr<USBTunnelImpl::ConnectionRecord> USBTunnelImpl::remove(uint16_t id,
                                                                       bool keepIdReserved)
{
    const auto it = m_connections.find(id);
    std::unique_ptr<ConnectionRecord> record = std::move(it->second);
    m_connections.erase(it);
    if (m_payloadId == id)
        m_payloadSerial = 0;
    if (keepIdReserved)
        m_staleIds.insert(id);
    else
        releaseId(id);
    return record;
}

void USBTunnelImpl::failPending(ConnectionRecord& record, OperationResult readWrite,
                                OperationResult event)
{
    if (auto read = takeOut(record.readCallback))
        read(readWrite, 0);
    if (auto write = takeOut(record.writeCallback))
        write(readWrite);
    if (auto done = takeOut(record.eventCallback))
        done(event, 0);
}

void USBTunnelImpl::open(uint16_t id, EventCallback done, const SendOpen& send)
{
    if (m_closed) {
        done(TunnelClosed, 0);
        return;
    }
    if (m_connections.count(id) || m_staleIds.count(id)) {
        done(Refused, 0);
        return;
    }
    auto record = std::make_unique<ConnectionRecord>();
    record->serial = ++m_lastSerial;
    record->eventCallback = std::move(done);
    const uint64_t serial = record->serial;
    ConnectionRecord& r = *record;
    m_connections.emplace(id, std::move(record));
    {
        std::lock_guard<std::mutex> lock(m_idMutex);
        m_idsInUse.insert(id);
    }
    const bool sent = send([this, id, serial](bool ok) {
        ConnectionRecord* r = ok || m_closed ? nullptr : find(id, serial);
        if (r && r->state == State::Opening)
            if (auto done = takeOut(r->eventCallback))
                done(TunnelClosed, 0);
    });
    if (!sent) {
        EventCallback back = takeOut(r.eventCallback);
        remove(id, false);
        back(TunnelClosed, 0);
        return;
    }
    m_pipe->postAfter(m_options.openLimit, [this, id, serial] { openTimedOut(id, serial); });
}

// The device never answered the open: it fails here, and the id stays out of use until the
// device's late answer, as the device may yet open it.
void USBTunnelImpl::openTimedOut(uint16_t id, uint64_t serial)
{
    ConnectionRecord* r = m_closed ? nullptr : find(id, serial);
    if (!r || r->state != State::Opening)
        return;
    qCWarning(lcTunnel) << "connection" << id << "not answered by the device; open given up";
    dropUnanswered(id, ConnectionLost);
}

// Ends a connection here whose open or close the device did not answer; its id stays out of
// use until the device's late answer.
void USBTunnelImpl::dropUnanswered(uint16_t id, OperationResult event)
{
    std::unique_ptr<ConnectionRecord> record = remove(id, true);
    failPending(*record, ConnectionLost, event);
    if (m_connectionClosed)
        m_connectionClosed(id);
}

void USBTunnelImpl::close(uint16_t id, EventCallback done)
{
    if (m_closed) {
        done(TunnelClosed, 0);
        return;
    }
    ConnectionRecord* r = find(id);
    if (r && r->state == State::Draining) {
        // The device has already ended it: what is left unread goes.
        std::unique_ptr<ConnectionRecord> record = remove(id, false);
        failPending(*record, ConnectionLost, ConnectionLost);
        done(Success, 0);
        if (m_connectionClosed)
            m_connectionClosed(id);
        return;
    }
    if (!r || r->eventCallback) {
        done(Refused, 0);
        return;
    }
    r->state = State::Closing;
    r->eventCallback = std::move(done);
    const uint64_t serial = r->serial;
    const bool sent = m_pipe->sendCloseConnectionMessage(id, [this, id, serial](bool ok) {
        ConnectionRecord* r = ok || m_closed ? nullptr : find(id, serial);
        if (r)
            if (auto done = takeOut(r->eventCallback))
                done(TunnelClosed, 0);
    });
    if (!sent) {
        takeOut(r->eventCallback)(TunnelClosed, 0);
        return;
    }
    m_pipe->postAfter(m_options.closeLimit, [this, id, serial] { closeTimedOut(id, serial); });
    serviceRead(id, *r);
}

// The device never answered the close: the connection ends here, and its id stays out of
// use in case the device still holds it.
void USBTunnelImpl::closeTimedOut(uint16_t id, uint64_t serial)
{
    if (m_closed || !find(id, serial))
        return;
    qCWarning(lcTunnel) << "connection" << id << "not confirmed closed by the device; dropped";
    dropUnanswered(id, TunnelClosed);
}

void USBTunnelImpl::startWrite(uint16_t id, const char* data, uint64_t length, WriteCallback done)
{
    if (m_closed) {
        done(TunnelClosed);
        return;
    }
    ConnectionRecord* r = find(id);
    if (!r || r->writeCallback || r->state != State::Open) {
        done(Refused);
        return;
    }
    // Nothing to send needs no credit.
    if (length == 0) {
        done(Success);
        return;
    }
    r->writeCallback = std::move(done);
    r->writeData = data;
    r->writeRemaining = length;
    r->transferInFlight = false;
    pump(id, *r);
}

void USBTunnelImpl::pump(uint16_t id, ConnectionRecord& r)
{
    if (r.transferInFlight || !r.writeCallback || r.buffer.sendCredit() == 0)
        return;
    const uint32_t length = uint32_t(std::min(r.buffer.sendCredit(), r.writeRemaining));
    const uint64_t tokens = m_pipe->carriesTokens(length) ? r.buffer.grantableTokens() : 0;
    // The pipe writes from its own copy: the caller may free the data once the write is
    // told, even while this piece is still queued.
    auto piece = std::make_shared<QByteArray>(r.writeData, int(length));
    const uint64_t serial = r.serial;
    const bool sent =
        m_pipe->sendTransfer(id, piece->constData(), length, tokens,
                             [this, id, serial, length, piece](bool ok, uint64_t returned) {
                                 transferDone(id, serial, length, ok, returned);
                             });
    if (!sent) {
        r.buffer.returnTokens(tokens);
        takeOut(r.writeCallback)(TunnelClosed);
        return;
    }
    r.transferInFlight = true;
    r.buffer.spendCredit(length);
}

void USBTunnelImpl::transferDone(uint16_t id, uint64_t serial, uint32_t length, bool ok,
                                 uint64_t returned)
{
    ConnectionRecord* r = m_closed ? nullptr : find(id, serial);
    if (!r)
        return;
    r->transferInFlight = false;
    r->buffer.returnTokens(returned);
    if (!ok) {
        // Nothing of it is known to have arrived: the credit is the connection's again.
        r->buffer.returnCredit(length);
        grant(id, *r);
        if (auto done = takeOut(r->writeCallback))
            done(TunnelClosed);
        return;
    }
    if (returned)
        grant(id, *r);
    if (!r->writeCallback)
        return;
    r->writeData += length;
    r->writeRemaining -= length;
    if (r->writeRemaining > 0)
        pump(id, *r);
    else
        takeOut(r->writeCallback)(Success);
}

void USBTunnelImpl::startRead(uint16_t id, char* buffer, uint64_t capacity, ReadCallback done)
{
    if (m_closed) {
        done(TunnelClosed, 0);
        return;
    }
    ConnectionRecord* r = find(id);
    if (!r || r->readCallback || (r->state != State::Open && r->state != State::Draining)) {
        done(Refused, 0);
        return;
    }
    r->readCallback = std::move(done);
    r->readBuffer = buffer;
    r->readCapacity = capacity;
    serviceRead(id, *r);
}

void USBTunnelImpl::serviceRead(uint16_t id, ConnectionRecord& r)
{
    if (r.readCallback) {
        if (r.buffer.available() == 0)
            return;
        const uint64_t n = r.buffer.take(r.readBuffer, r.readCapacity);
        if (r.state == State::Draining) {
            takeOut(r.readCallback)(Success, n);
            if (r.buffer.available() == 0)
                endDrained(id);
            return;
        }
        grant(id, r);
        takeOut(r.readCallback)(Success, n);
    } else if (r.state == State::Closing) {
        // Nobody reads any more: let the device drain.
        r.buffer.discardAll();
        grant(id, r);
    }
}

void USBTunnelImpl::grant(uint16_t id, ConnectionRecord& r)
{
    if (r.tokensInFlight || m_closed || r.state == State::Draining)
        return;
    const uint64_t tokens = r.buffer.grantableTokens();
    if (tokens == 0)
        return;
    const uint64_t serial = r.serial;
    const bool sent = m_pipe->sendTokensMessage(id, tokens, [this, id, serial, tokens](bool ok) {
        ConnectionRecord* r = m_closed ? nullptr : find(id, serial);
        if (!r)
            return;
        r->tokensInFlight = false;
        if (!ok)
            r->buffer.returnTokens(tokens);
        grant(id, *r);
    });
    if (sent)
        r.tokensInFlight = true;
    else
        r.buffer.returnTokens(tokens);
}

void USBTunnelImpl::closeTunnel(const QString& reason, bool shutDownPipe)
{
    if (m_closed.exchange(true))
        return;
    qCWarning(lcTunnel) << "tunnel closed:" << reason;
    // A failed pipe refuses every send already; it is shut down with the engine. Sends still
    // queued come back failed and find nothing left to tell.
    if (shutDownPipe)
        m_pipe->shutdown();
    while (!m_connections.empty()) {
        const uint16_t id = m_connections.begin()->first;
        std::unique_ptr<ConnectionRecord> record = remove(id, false);
        failPending(*record, TunnelClosed, TunnelClosed);
        if (m_connectionClosed)
            m_connectionClosed(id);
    }
    if (m_tunnelClosed)
        m_tunnelClosed();
}

// The last unread byte of a connection the device closed has been read.
void USBTunnelImpl::endDrained(uint16_t id)
{
    std::unique_ptr<ConnectionRecord> record = remove(id, false);
    failPending(*record, ConnectionLost, ConnectionLost);
    if (m_connectionClosed)
        m_connectionClosed(id);
}

// ---- the device's messages, on the work thread ----

void USBTunnelImpl::connectionOpened(uint16_t id)
{
    ConnectionRecord* r = find(id);
    if (!r && m_staleIds.count(id)) {
        // A late answer to an open that was given up on: nobody uses it, so it is closed;
        // the device's answer to that frees the id.
        m_pipe->sendCloseConnectionMessage(id, {});
        return;
    }
    if (!r || r->state != State::Opening)
        return;
    r->state = State::Open;
    grant(id, *r);
    if (auto done = takeOut(r->eventCallback))
        done(Success, 0);
}

void USBTunnelImpl::tokensReceived(uint16_t id, uint64_t count)
{
    ConnectionRecord* r = find(id);
    if (!r)
        return;
    r->buffer.addCredit(count);
    pump(id, *r);
}

void USBTunnelImpl::connectionClosed(uint16_t id, uint16_t error)
{
    if (!find(id)) {
        // A late answer to a close that was given up on: the id is free again.
        if (m_staleIds.erase(id))
            releaseId(id);
        return;
    }
    ConnectionRecord* r = find(id);
    if (r->state == State::Draining)
        return;
    if (r->state == State::Open && r->buffer.available() > 0) {
        // What the device sent before its close is the reader's: the connection ends once
        // that is read (or the host closes it).
        r->state = State::Draining;
        if (auto write = takeOut(r->writeCallback))
            write(ConnectionLost);
        return;
    }
    std::unique_ptr<ConnectionRecord> record = remove(id, false);
    const bool refused = record->state == State::Opening;
    if (auto write = takeOut(record->writeCallback))
        write(ConnectionLost);
    if (auto read = takeOut(record->readCallback))
        read(ConnectionLost, 0);
    // A refused open must not read as opened.
    if (auto done = takeOut(record->eventCallback))
        done(refused ? ConnectionLost : Success, error);
    if (m_connectionClosed)
        m_connectionClosed(id);
}

bool USBTunnelImpl::payloadBegin(uint16_t id, uint64_t length)
{
    m_payloadId = id;
    m_payloadSerial = 0;
    ConnectionRecord* r = find(id);
    if (!r) {
        if (m_staleIds.count(id))
            return true;
        qCWarning(lcTunnel) << "payload of" << length << "bytes for unknown connection" << id;
        return false;
    }
    // After the device's own close: dropped.
    if (r->state == State::Draining)
        return true;
    if (length > r->buffer.freeSpace()) {
        qCWarning(lcTunnel) << "payload of" << length << "bytes exceeds the free"
                            << r->buffer.freeSpace() << "bytes of connection" << id;
        return false;
    }
    m_payloadSerial = r->serial;
    return true;
}

void USBTunnelImpl::payloadPiece(uint16_t id, const char* data, size_t size)
{
    if (ConnectionRecord* r = m_payloadSerial ? find(id, m_payloadSerial) : nullptr)
        r->buffer.append(data, size);
}

void USBTunnelImpl::payloadEnd(uint16_t id)
{
    ConnectionRecord* r = m_payloadSerial ? find(id, m_payloadSerial) : nullptr;
    m_payloadSerial = 0;
    if (r)
        serviceRead(id, *r);
}

} // namespace USBTunnel
} // namespace CVN
