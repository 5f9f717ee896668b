#include "plugins/webview/transport/usbtunnel.h"

#include "plugins/webview/transport/tunnelregistry.h"
#include "plugins/webview/transport/usbtunnelimpl.h"
#include "usb/driver/iusbdevice.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <stdexcept>

using CVN::USBTunnel::OperationResult;

namespace {

void joinUnlessSelf(std::thread& thread)
{
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

} // namespace

std::shared_ptr<USBTunnel> USBTunnel::create(CVN::USB::IUSBDevice* device)
{
    return std::shared_ptr<USBTunnel>(new USBTunnel(device));
}

USBTunnel::USBTunnel(CVN::USB::IUSBDevice* device)
    : m_device(WebViewUsb::UsbRef<CVN::USB::IUSBDevice>::share(device))
    , m_link(std::make_shared<Link>())
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
            id, port, [link, raw, id](OperationResult result, CVN::USBTunnel::ConnectionError) {
                std::lock_guard<std::mutex> lock(link->mutex);
                if (link->tunnel && link->tunnel->opened(id, result))
                    return;
                // Stopped while opening: the device's connection has nobody to serve.
                if (result == CVN::USBTunnel::Success)
                    raw->closeConnection(id,
                                         [](OperationResult, CVN::USBTunnel::ConnectionError) {});
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

// On the engine's work thread; false when this object no longer waits for the open.
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
        std::lock_guard<std::mutex> finished(m_finishedMutex);
        m_readerFinished = false;
        m_writerFinished = false;
    }
    m_readThread = std::thread(&USBTunnel::readLoop, this, m_engine, id);
    m_writeThread = std::thread(&USBTunnel::writeLoop, this, m_engine, id);
    lock.unlock();
    emit connected();
    return true;
}

void USBTunnel::write(const char* data, uint64_t length)
{
    if (length == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        m_writeQueue.emplace_back(data, data + length);
    }
    m_writeWake.notify_one();
}

uint64_t USBTunnel::read(char* dest, uint64_t max)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    uint64_t copied = 0;
    while (copied < max && !m_readQueue.empty()) {
        const std::vector<char>& front = m_readQueue.front();
        const uint64_t n = std::min<uint64_t>(max - copied, front.size() - m_readOffset);
        std::memcpy(dest + copied, front.data() + m_readOffset, n);
        copied += n;
        m_readOffset += n;
        if (m_readOffset == front.size()) {
            m_readQueue.pop_front();
            m_readOffset = 0;
        }
    }
    m_bytesQueued -= copied;
    return copied;
}

uint64_t USBTunnel::bytesAvailable() const
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    return m_bytesQueued;
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

// Ends the connection and its threads; false when it was not running. Bounded: the writer
// gets the drain limit, the device's answer to the close the engine's close limit.
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
    lock.unlock();
    {
        std::lock_guard<std::mutex> wake(m_writeMutex);
    }
    m_writeWake.notify_all();
    // Not yet opened: the open's answer closes the device's side.
    if (!wasOpened)
        return true;
    const bool writerDone = waitFinished(m_writerFinished, kDrainLimit);
    // Closed by the device: the reader is told so by the engine; it only needs its turn.
    const bool readerDone = !closeRemote && waitFinished(m_readerFinished, kDrainLimit);
    if (closeRemote || !writerDone || !readerDone) {
        try {
            engine->closeConnectionSync(id);
        } catch (const std::exception& e) {
            qWarning() << "USBTunnel::stop:" << e.what();
        }
    }
    joinUnlessSelf(writer);
    joinUnlessSelf(reader);
    return true;
}

void USBTunnel::queueStop()
{
    QMetaObject::invokeMethod(
        this, [this] { stop(false); }, Qt::QueuedConnection);
}

void USBTunnel::readLoop(std::shared_ptr<Engine> engine, uint16_t id)
{
    uint64_t size = kMinReadSize;
    while (m_running) {
        std::vector<char> buffer(size);
        const auto [result, n] = engine->readSync(id, buffer.data(), size);
        if (result != CVN::USBTunnel::Success) {
            queueStop();
            break;
        }
        size = nextReadSize(size, n);
        if (n == 0)
            continue;
        buffer.resize(n);
        {
            std::lock_guard<std::mutex> lock(m_readMutex);
            m_readQueue.push_back(std::move(buffer));
            m_bytesQueued += n;
        }
        emit readyRead();
    }
    finished(m_readerFinished);
}

// Drains the queue even once stopping, so bytes written before a close go out before it.
void USBTunnel::writeLoop(std::shared_ptr<Engine> engine, uint16_t id)
{
    bool failed = false;
    while (!failed) {
        std::deque<std::vector<char>> batch;
        {
            std::unique_lock<std::mutex> lock(m_writeMutex);
            m_writeWake.wait(lock, [this] { return !m_running || !m_writeQueue.empty(); });
            if (m_writeQueue.empty())
                break;
            batch.swap(m_writeQueue);
        }
        for (const std::vector<char>& bytes : batch) {
            if (engine->writeSync(id, bytes.data(), bytes.size()) != CVN::USBTunnel::Success) {
                failed = true;
                break;
            }
        }
    }
    if (failed)
        queueStop();
    finished(m_writerFinished);
}

void USBTunnel::finished(bool& flag)
{
    {
        std::lock_guard<std::mutex> lock(m_finishedMutex);
        flag = true;
    }
    m_finishedChanged.notify_all();
}

bool USBTunnel::waitFinished(const bool& flag, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_finishedMutex);
    return m_finishedChanged.wait_for(lock, limit, [&flag] { return flag; });
}
