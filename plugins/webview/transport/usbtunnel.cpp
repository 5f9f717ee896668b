#include "plugins/webview/transport/usbtunnel.h"

#include "plugins/webview/transport/tunnelregistry.h"
#include "usb/driver/iusbdevice.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <stdexcept>

using CVN::USBTunnel::ConnectionError;
using CVN::USBTunnel::OperationResult;

namespace {

// Set once, from any thread; waited for with a limit.
class Latch
{
public:
    void set()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_set = true;
        }
        m_changed.notify_all();
    }
    bool waitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

} // namespace

std::shared_ptr<USBTunnel> USBTunnel::create(CVN::USB::IUSBDevice* device)
{
    return std::shared_ptr<USBTunnel>(new USBTunnel(device));
}

USBTunnel::USBTunnel(CVN::USB::IUSBDevice* device)
    : m_device(WebViewUsb::UsbRef<CVN::USB::IUSBDevice>::share(device))
    , m_link(std::make_shared<Link>())
    , m_channel(std::make_shared<Channel>())
{
    m_link->tunnel = this;
}

USBTunnel::~USBTunnel()
{
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->tunnel = nullptr;
    }
    TunnelRegistry::instance().forget(this);
    halt(true);
}

void USBTunnel::setStopLimits(std::chrono::milliseconds drain, std::chrono::milliseconds close)
{
    m_drainLimit = drain;
    m_closeLimit = close;
}

uint64_t USBTunnel::nextReadSize(uint64_t size, uint64_t got)
{
    if (got >= size)
        return std::min(size * 2, kMaxReadSize);
    if (got < size / 2)
        return std::max(size / 2, kMinReadSize);
    return size;
}

void USBTunnel::connect(uint16_t port)
{
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_running)
            return;
        m_running = true;
    }
    try {
        std::shared_ptr<Engine> engine = TunnelRegistry::instance().acquire(m_device.get(), this);
        // The engine hands out ids that are neither 0 nor in use on the tunnel.
        const uint16_t id = engine->newConnectionId();
        if (id == 0)
            throw std::runtime_error("No free USB tunnel connection id.");
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_engine = engine;
            m_connectionId = id;
            m_port = port;
        }
        Engine* raw = engine.get();
        std::shared_ptr<Link> link = m_link;
        const bool posted = engine->openTCPConnection(
            id, port, [link, raw, id](OperationResult result, ConnectionError) {
                std::lock_guard<std::mutex> lock(link->mutex);
                if (link->tunnel && link->tunnel->opened(id, result))
                    return;
                // Stopped while opening: the device's connection has nobody to serve.
                if (result == CVN::USBTunnel::Success)
                    raw->closeConnection(id, [](OperationResult, ConnectionError) {});
            });
        if (!posted) {
            {
                std::lock_guard<std::mutex> lock(m_stateMutex);
                m_running = false;
                m_connectionId = 0;
            }
            // Told after connect returns, as every other outcome of an open is.
            QMetaObject::invokeMethod(
                this, [this] { emit disconnected(); }, Qt::QueuedConnection);
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_running = false;
        m_connectionId = 0;
        throw;
    }
}

// On the engine's work thread, with the link held; false when this object no longer waits
// for the open.
bool USBTunnel::opened(uint16_t id, OperationResult result)
{
    std::unique_lock<std::mutex> lock(m_stateMutex);
    if (!m_running || m_connectionId != id)
        return false;
    if (result != CVN::USBTunnel::Success) {
        // Refused by the device, or the tunnel went: never connected.
        m_running = false;
        m_connectionId = 0;
        lock.unlock();
        emit disconnected();
        return true;
    }
    m_opened = true;
    {
        std::lock_guard<std::mutex> finished(m_channel->finishedMutex);
        m_channel->threadsLeft = 2;
    }
    m_readThread = std::thread(&USBTunnel::readLoop, m_channel, m_link, m_engine, id);
    m_writeThread = std::thread(&USBTunnel::writeLoop, m_channel, m_link, m_engine, id);
    lock.unlock();
    emit connected();
    return true;
}

void USBTunnel::write(const char* data, uint64_t length)
{
    if (length == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_channel->writeMutex);
        m_channel->writeQueue.emplace_back(data, data + length);
        m_channel->bytesToWrite += length;
    }
    m_channel->writeWake.notify_one();
}

uint64_t USBTunnel::bytesToWrite() const
{
    std::lock_guard<std::mutex> lock(m_channel->writeMutex);
    return m_channel->bytesToWrite;
}

uint64_t USBTunnel::read(char* dest, uint64_t max)
{
    Channel& c = *m_channel;
    std::lock_guard<std::mutex> lock(c.readMutex);
    uint64_t copied = 0;
    while (copied < max && !c.readQueue.empty()) {
        const std::vector<char>& front = c.readQueue.front();
        const uint64_t n = std::min<uint64_t>(max - copied, front.size() - c.readOffset);
        std::memcpy(dest + copied, front.data() + c.readOffset, n);
        copied += n;
        c.readOffset += n;
        if (c.readOffset == front.size()) {
            c.readQueue.pop_front();
            c.readOffset = 0;
        }
    }
    const bool wasFull = c.bytesQueued >= kReadQueueLimit;
    c.bytesQueued -= copied;
    if (wasFull && c.bytesQueued < kReadQueueLimit)
        c.readRoom.notify_all();
    return copied;
}

uint64_t USBTunnel::bytesAvailable() const
{
    std::lock_guard<std::mutex> lock(m_channel->readMutex);
    return m_channel->bytesQueued;
}

void USBTunnel::onTunnelClosed()
{
    stop(true);
    std::shared_ptr<Engine> engine;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        engine.swap(m_engine);
    }
}

void USBTunnel::stop(bool closeRemote)
{
    if (halt(closeRemote))
        emit disconnected();
}

// Ends the connection and its threads; false when it was not running. Bounded: the bytes
// written get the drain limit to go out, the device the close limit to answer the close.
// A device that does not answer in time is left behind: the connection is dropped here and
// the registry takes its threads, which finish when the engine lets them go.
bool USBTunnel::halt(bool closeRemote)
{
    std::unique_lock<std::mutex> lock(m_stateMutex);
    if (!m_running.exchange(false))
        return false;
    const uint16_t id = m_connectionId.exchange(0);
    const bool wasOpened = std::exchange(m_opened, false);
    std::thread reader = std::move(m_readThread);
    std::thread writer = std::move(m_writeThread);
    std::shared_ptr<Engine> engine = m_engine;
    std::shared_ptr<Channel> channel = m_channel;
    lock.unlock();
    // Not yet opened: the open's answer closes the device's side.
    if (!wasOpened)
        return true;

    {
        std::lock_guard<std::mutex> wake(channel->writeMutex);
        channel->running = false;
    }
    channel->writeWake.notify_all();
    {
        // Taken once the flag is down, so a reader about to wait for room sees it.
        std::lock_guard<std::mutex> wake(channel->readMutex);
    }
    channel->readRoom.notify_all();
    const auto threadsDone = [channel](std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(channel->finishedMutex);
        return channel->finishedChanged.wait_for(lock, limit,
                                                 [&channel] { return channel->threadsLeft == 0; });
    };
    bool drained = false;
    {
        std::unique_lock<std::mutex> lock(channel->finishedMutex);
        drained = channel->finishedChanged.wait_for(lock, m_drainLimit,
                                                    [&channel] { return channel->writerFinished; });
    }
    // Closed by the device: the reader takes what is left, then the engine ends it.
    const bool readerDone = !closeRemote && threadsDone(m_drainLimit);
    if (!readerDone) {
        auto answered = std::make_shared<Latch>();
        const bool posted = engine->closeConnection(
            id, [answered](OperationResult, ConnectionError) { answered->set(); });
        // A device that did not take the bytes will not answer a close behind them either.
        if (posted && drained && !answered->waitFor(m_closeLimit))
            qWarning() << "USBTunnel: the device did not answer the close of connection" << id;
    }
    if (threadsDone(drained ? m_drainLimit : std::chrono::milliseconds(0))) {
        reader.join();
        writer.join();
        return true;
    }
    qWarning() << "USBTunnel: connection" << id << "dropped without the device";
    std::vector<std::thread> threads;
    threads.push_back(std::move(reader));
    threads.push_back(std::move(writer));
    TunnelRegistry::instance().adopt(std::move(threads), threadsDone);
    return true;
}

void USBTunnel::queueStop(const std::shared_ptr<Link>& link)
{
    std::lock_guard<std::mutex> lock(link->mutex);
    if (USBTunnel* tunnel = link->tunnel)
        QMetaObject::invokeMethod(
            tunnel, [tunnel] { tunnel->stop(false); }, Qt::QueuedConnection);
}

void USBTunnel::threadFinished(Channel& channel, bool writer)
{
    {
        std::lock_guard<std::mutex> lock(channel.finishedMutex);
        --channel.threadsLeft;
        if (writer)
            channel.writerFinished = true;
    }
    channel.finishedChanged.notify_all();
}

void USBTunnel::readLoop(std::shared_ptr<Channel> channel, std::shared_ptr<Link> link,
                         std::shared_ptr<Engine> engine, uint16_t id)
{
    // Reads until the engine ends the connection, also while stopping: bytes the device
    // sent before its close are still handed on, then without the limit on what is queued.
    uint64_t size = kMinReadSize;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(channel->readMutex);
            channel->readRoom.wait(lock, [&channel] {
                return channel->bytesQueued < kReadQueueLimit || !channel->running;
            });
        }
        std::vector<char> buffer(size);
        const auto [result, n] = engine->readSync(id, buffer.data(), size);
        if (result != CVN::USBTunnel::Success) {
            queueStop(link);
            break;
        }
        size = nextReadSize(size, n);
        if (n == 0)
            continue;
        buffer.resize(n);
        {
            std::lock_guard<std::mutex> lock(channel->readMutex);
            channel->readQueue.push_back(std::move(buffer));
            channel->bytesQueued += n;
        }
        std::lock_guard<std::mutex> lock(link->mutex);
        if (link->tunnel)
            emit link->tunnel->readyRead();
    }
    threadFinished(*channel, false);
}

// Drains the queue even once stopping, so bytes written before a close go out before it.
void USBTunnel::writeLoop(std::shared_ptr<Channel> channel, std::shared_ptr<Link> link,
                          std::shared_ptr<Engine> engine, uint16_t id)
{
    bool failed = false;
    while (!failed) {
        std::deque<std::vector<char>> batch;
        {
            std::unique_lock<std::mutex> lock(channel->writeMutex);
            channel->writeWake.wait(
                lock, [&channel] { return !channel->running || !channel->writeQueue.empty(); });
            if (channel->writeQueue.empty())
                break;
            batch.swap(channel->writeQueue);
        }
        for (const std::vector<char>& bytes : batch) {
            if (engine->writeSync(id, bytes.data(), bytes.size()) != CVN::USBTunnel::Success) {
                failed = true;
                break;
            }
            {
                std::lock_guard<std::mutex> lock(channel->writeMutex);
                channel->bytesToWrite -= bytes.size();
            }
            std::lock_guard<std::mutex> lock(link->mutex);
            if (link->tunnel)
                emit link->tunnel->bytesWritten(qint64(bytes.size()));
        }
    }
    if (failed)
        queueStop(link);
    threadFinished(*channel, true);
}
