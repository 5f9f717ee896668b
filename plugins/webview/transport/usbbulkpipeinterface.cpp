#include "plugins/webview/transport/usbbulkpipeinterface.h"

#include "platform/bytereader.h"
#include "plugins/webview/transport/usbtunnelmessage.h"

#include <algorithm>
#include <stdexcept>

namespace CVN {
namespace USBTunnel {

using AbstractUSB::kUSBSuccess;
using AbstractUSB::USBResult;

namespace {
constexpr uint16_t kControlAnswerSize = USBBulkPipeInterface::kControlPiece + 2;
}

USBBulkPipeInterface::USBBulkPipeInterface(
    std::shared_ptr<AbstractUSB::AbstractUSBInterface> interface,
    USBTunnelMessageReader::Sink* sink, FailureCallback failed,
    std::chrono::milliseconds keepAliveInterval, std::chrono::milliseconds writeLimit)
    : m_interface(std::move(interface))
    , m_failed(std::move(failed))
    , m_reader(sink)
    , m_keepAliveInterval(keepAliveInterval)
    , m_writeLimit(writeLimit)
{
    m_workQueue.start();
}

USBBulkPipeInterface::~USBBulkPipeInterface()
{
    shutdown();
}

void USBBulkPipeInterface::setUp()
{
    if (m_interface->controlTransfer(false, Reset, 0, nullptr, 0) != kUSBSuccess)
        throw std::runtime_error("Failed to reset");
    uint8_t version[2] = {2, 0};
    if (m_interface->controlTransfer(false, SetVersion, 0, version, 2) == kUSBSuccess) {
        m_protocol2 = true;
    } else {
        version[0] = 1;
        if (m_interface->controlTransfer(false, SetVersion, 0, version, 2) != kUSBSuccess)
            throw std::runtime_error("Didn't get the version we wanted");
    }
    for (const AbstractUSB::USBPipe& pipe : m_interface->pipes()) {
        if (!pipe.bulk)
            continue;
        if (pipe.direction == 0) {
            m_outPipe = pipe.pipe;
            m_outMaxPacket = pipe.maxPacketSize;
        } else {
            m_inPipe = pipe.pipe;
        }
    }
    if (m_inPipe && !m_outPipe)
        throw std::runtime_error("Couldn't find output pipe");
    if (m_outPipe && !m_inPipe)
        throw std::runtime_error("Couldn't find input pipe");
    m_receiveBuffer.assign(kReceiveBufferSize, 0);
    m_reads.resize(controlMode() ? 0 : kReadsInFlight);
    for (ReadSlot& slot : m_reads)
        slot.buffer.assign(kBulkReadSize, 0);
    if (m_outPipe) {
        m_interface->resetPipe(m_outPipe);
        m_interface->resetPipe(m_inPipe);
    }

    m_lastActivity = std::chrono::steady_clock::now();
    if (controlMode())
        m_workQueue.post([this] { pollControl(); });
    else
        m_workQueue.post([this] { readBulk(); });
    m_keepAliveThread = std::thread([this] { keepAliveLoop(); });
}

bool USBBulkPipeInterface::carriesTokens(uint32_t length) const
{
    return m_protocol2 && length < kTokenCarryLimit;
}

bool USBBulkPipeInterface::sendOpenConnectionTCPMessage(uint16_t connectionId, uint16_t port,
                                                        Completion done)
{
    return sendMessage(USBTunnelMessage::openConnectionTCP(connectionId, port), std::move(done));
}

bool USBBulkPipeInterface::sendOpenConnectionTestMessage(uint16_t connectionId, uint8_t a,
                                                         uint64_t b, uint64_t c, Completion done)
{
    return sendMessage(USBTunnelMessage::openConnectionTest(connectionId, a, b, c),
                       std::move(done));
}

bool USBBulkPipeInterface::sendCloseConnectionMessage(uint16_t connectionId, Completion done)
{
    return sendMessage(USBTunnelMessage::closeConnection(connectionId), std::move(done));
}

bool USBBulkPipeInterface::sendTokensMessage(uint16_t connectionId, uint64_t tokenCount,
                                             Completion done)
{
    return sendMessage(USBTunnelMessage::tokens(connectionId, tokenCount), std::move(done));
}

bool USBBulkPipeInterface::sendMessage(QByteArray message, Completion done)
{
    if (m_closed)
        return false;
    markActivity();
    auto shared = std::make_shared<Completion>(std::move(done));
    return m_workQueue.post(
        [this, message, shared] {
            const bool ok = !m_closed && writeStream(message.constData(), message.size());
            if (*shared)
                (*shared)(ok);
        },
        [shared] {
            if (*shared)
                (*shared)(false);
        });
}

bool USBBulkPipeInterface::sendTransfer(uint16_t connectionId, const char* data, uint32_t length,
                                        uint64_t tokenCount, TransferCompletion done)
{
    if (m_closed)
        return false;
    markActivity();
    auto shared = std::make_shared<TransferCompletion>(std::move(done));
    const bool carry = carriesTokens(length);
    return m_workQueue.post(
        [this, connectionId, data, length, tokenCount, carry, shared] {
            bool ok = false;
            if (!m_closed) {
                if (carry) {
                    const QByteArray message =
                        USBTunnelMessage::transferTokens(connectionId, tokenCount, data, length);
                    ok = writeStream(message.constData(), message.size());
                } else {
                    const QByteArray header = USBTunnelMessage::transfer(connectionId, length);
                    ok =
                        writeStream(header.constData(), header.size()) && writeStream(data, length);
                }
            }
            if (*shared)
                (*shared)(ok, ok && carry ? 0 : tokenCount);
        },
        [shared, tokenCount] {
            if (*shared)
                (*shared)(false, tokenCount);
        });
}

// One logical write: in control mode as pieces of one request each; a write of whole packets
// is followed by an empty one so the device sees where it ends.
bool USBBulkPipeInterface::writeStream(const char* data, uint32_t length)
{
    bool ok;
    if (controlMode()) {
        ok = true;
        uint32_t done = 0;
        do {
            const uint32_t piece = std::min<uint32_t>(kControlPiece, length - done);
            ok = writeOnce(data + done, piece);
            done += piece;
        } while (ok && done < length);
    } else {
        ok = writeOnce(data, length);
    }
    if (ok && USBTunnelMessage::needsZeroLengthPacket(length, m_outMaxPacket))
        ok = writeOnce(nullptr, 0);
    if (!ok)
        fail(QStringLiteral("USB tunnel write of %1 bytes failed").arg(length));
    return ok;
}

bool USBBulkPipeInterface::writeOnce(const char* data, uint32_t length)
{
    if (controlMode())
        return m_interface->controlTransfer(false, ControlWrite, 0, const_cast<char*>(data),
                                            uint16_t(length)) == kUSBSuccess;
    return m_interface->writeWithin(m_outPipe, data, length, m_writeLimit) == kUSBSuccess;
}

void USBBulkPipeInterface::readBulk()
{
    while (!m_closed) {
        const uint32_t index = uint32_t(m_nextRead % kReadsInFlight);
        ReadSlot& slot = m_reads[index];
        if (slot.busy)
            return;
        {
            std::lock_guard<std::mutex> lock(m_readMutex);
            ++m_readsInFlight;
        }
        slot.busy = true;
        slot.done = false;
        ++m_nextRead;
        const USBResult started = m_interface->readAsync(
            m_inPipe, slot.buffer.data(), kBulkReadSize,
            [this, index](USBResult result, uint32_t bytes) {
                bulkReadDone(index, result, bytes);
            });
        if (started != kUSBSuccess) {
            {
                std::lock_guard<std::mutex> lock(m_readMutex);
                --m_readsInFlight;
                m_readDone.notify_all();
            }
            fail(QStringLiteral("USB tunnel read could not start"));
            return;
        }
    }
}

// Runs on the USB completion thread: hands the outcome to the work thread, which parses the
// reads in order and starts new ones. A read counts as in flight until then, and the
// completion as active until it returns, so shutdown waits for both: a dropped task ends the
// first while this thread is still inside post().
void USBBulkPipeInterface::bulkReadDone(uint32_t slot, USBResult result, uint32_t bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_readMutex);
        ++m_completionsActive;
    }
    // Notified under the lock: the waiter may free this object once it sees the counts at 0.
    auto finish = [this] {
        std::lock_guard<std::mutex> lock(m_readMutex);
        --m_readsInFlight;
        m_readDone.notify_all();
    };
    const bool posted = m_workQueue.post(
        [this, slot, result, bytes, finish] {
            finish();
            if (m_closed)
                return;
            ReadSlot& s = m_reads[slot];
            s.done = true;
            s.result = result;
            s.bytes = std::min(bytes, kBulkReadSize);
            processReads();
        },
        finish);
    std::lock_guard<std::mutex> lock(m_readMutex);
    if (!posted)
        --m_readsInFlight;
    --m_completionsActive;
    m_readDone.notify_all();
}

void USBBulkPipeInterface::processReads()
{
    for (;;) {
        ReadSlot& s = m_reads[m_nextParse % kReadsInFlight];
        if (!s.busy || !s.done)
            break;
        ++m_nextParse;
        s.busy = false;
        s.done = false;
        if (s.result != kUSBSuccess) {
            fail(QStringLiteral("USB tunnel read failed"));
            return;
        }
        if (!process(s.buffer.data(), s.bytes) || m_closed)
            return;
    }
    readBulk();
}

void USBBulkPipeInterface::pollControl()
{
    if (m_closed)
        return;
    std::vector<char> answer(kControlAnswerSize, 0);
    uint32_t transferred = 0;
    if (m_interface->controlTransfer(true, ControlRead, 1, answer.data(), kControlAnswerSize,
                                     &transferred) != kUSBSuccess) {
        fail(QStringLiteral("USB tunnel poll failed"));
        return;
    }
    // The announced length is believed only as far as bytes actually came: a short answer
    // must not hand the parser what the buffer held before.
    const Platform::ByteReader reader(answer.data(),
                                      std::min<uint32_t>(transferred, kControlAnswerSize));
    uint8_t hi = 0, lo = 0;
    uint32_t length = 0;
    if (reader.u8(0, &hi) && reader.u8(1, &lo)) {
        const uint32_t announced = std::min<uint32_t>(uint32_t(hi) << 8 | lo, kControlPiece);
        length = std::min<uint32_t>(announced, uint32_t(reader.size() - 2));
    }
    // The buffer is processed before it could not take a whole answer, so nothing is cut.
    std::copy_n(answer.data() + 2, length, m_receiveBuffer.data() + m_received);
    m_received += length;

    if (length == 0 && m_received == 0) {
        m_emptyPolls = std::min(m_emptyPolls + 1, kMaxEmptyPolls);
        m_workQueue.waitForWork(kEmptyPollStep * m_emptyPolls);
        m_workQueue.post([this] { pollControl(); });
        return;
    }
    m_emptyPolls = 0;
    if (kReceiveBufferSize - m_received < kControlPiece || length < kControlPiece) {
        const uint32_t size = m_received;
        m_received = 0;
        if (!process(m_receiveBuffer.data(), size))
            return;
    }
    m_workQueue.post([this] { pollControl(); });
}

bool USBBulkPipeInterface::process(const char* data, size_t size)
{
    bool ok = false;
    QString reason;
    try {
        ok = m_reader.feed(data, size);
        reason = m_reader.error();
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
    }
    if (!ok)
        fail(QStringLiteral("USB tunnel protocol error: %1").arg(reason));
    return ok;
}

void USBBulkPipeInterface::fail(const QString& reason)
{
    m_closed = true;
    if (m_failedOnce.exchange(true))
        return;
    if (m_failed)
        m_failed(reason);
}

bool USBBulkPipeInterface::post(std::function<void()> task, std::function<void()> dropped)
{
    return m_workQueue.post(std::move(task), std::move(dropped));
}

bool USBBulkPipeInterface::postAfter(std::chrono::milliseconds delay, std::function<void()> task)
{
    return m_workQueue.postAfter(delay, std::move(task));
}

bool USBBulkPipeInterface::isWorkThread() const
{
    return m_workQueue.isWorkThread();
}

bool USBBulkPipeInterface::isClosed() const
{
    return m_closed;
}

void USBBulkPipeInterface::shutdown()
{
    if (m_shutDown.exchange(true)) {
        // A shutdown begun on the work thread finishes the stop from here.
        if (!isWorkThread())
            m_workQueue.stop();
        return;
    }
    m_closed = true;
    {
        std::lock_guard<std::mutex> lock(m_keepAliveMutex);
        m_keepAliveStop = true;
    }
    m_keepAliveWake.notify_all();
    if (m_keepAliveThread.joinable())
        m_keepAliveThread.join();
    // The OUT reset frees a write stuck on a silent device, so the work thread can stop; the
    // IN reset comes after the stop, so the aborted read finds the queue closed and reports
    // back at once.
    if (m_outPipe)
        m_interface->resetPipe(m_outPipe);
    m_workQueue.stop();
    if (m_inPipe)
        m_interface->resetPipe(m_inPipe);
    {
        // An aborted read still reports back; it must not find this object gone.
        std::unique_lock<std::mutex> lock(m_readMutex);
        m_readDone.wait_for(lock, kReadAbortLimit,
                            [this] { return m_readsInFlight == 0 && m_completionsActive == 0; });
    }
    m_interface->close();
}

// The keep-alive thread is not woken: at its deadline it finds the later activity and sleeps
// on, so a busy tunnel costs it one wake-up per interval instead of one per send.
void USBBulkPipeInterface::markActivity()
{
    std::lock_guard<std::mutex> lock(m_keepAliveMutex);
    m_lastActivity = std::chrono::steady_clock::now();
}

void USBBulkPipeInterface::keepAliveLoop()
{
    std::unique_lock<std::mutex> lock(m_keepAliveMutex);
    while (!m_keepAliveStop) {
        const auto deadline = m_lastActivity + m_keepAliveInterval;
        if (std::chrono::steady_clock::now() < deadline) {
            m_keepAliveWake.wait_until(lock, deadline);
            continue;
        }
        m_lastActivity = std::chrono::steady_clock::now();
        lock.unlock();
        m_workQueue.post([this] {
            if (!m_closed && !writeOnce(nullptr, 0))
                fail(QStringLiteral("USB tunnel keep-alive write failed"));
        });
        lock.lock();
    }
}

} // namespace USBTunnel
} // namespace CVN
