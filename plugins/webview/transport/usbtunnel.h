#pragma once

#include "plugins/webview/transport/abstractusbtunnel.h"
#include "plugins/webview/transport/operationresult.h"
#include "plugins/webview/transport/usbref.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace CVN {
namespace USB {
class IUSBDevice;
}
namespace USBTunnel {
class USBTunnelImpl;
}
} // namespace CVN

// One TCP connection on a USB device through the device's tunnel engine, which it shares
// with every other connection to that device (TunnelRegistry). A read thread and a write
// thread drive the engine's synchronous operations; the Qt side only queues bytes.
//
// Threads: lives on a Qt thread, where connect, closeConnection and the slots run. connected
// and a refusal's disconnected are emitted on the engine's work thread, readyRead on the read
// thread, every other disconnected on the object's own thread.
//
// What waits for read() is bounded (kReadQueueLimit): past it the read thread asks the engine
// for nothing more, so a device that closes after sending more than that is heard closed
// only once the reader took the rest.
class USBTunnel final : public AbstractUSBTunnel, public std::enable_shared_from_this<USBTunnel>
{
    Q_OBJECT
public:
    using Engine = CVN::USBTunnel::USBTunnelImpl;

    static constexpr uint64_t kMinReadSize = 512;
    static constexpr uint64_t kMaxReadSize = 131072;
    // Bytes queued for read() beyond which the read thread asks the engine for no more: a
    // slow reader holds the device back through the tunnel's credit instead of gathering a
    // whole download here.
    static constexpr uint64_t kReadQueueLimit = 4194304;
    // How long a close lets the bytes written before it go out.
    static constexpr std::chrono::milliseconds kDrainLimit{5000};
    // How long a close waits for the device's answer; a little over the engine's own limit,
    // after which the engine drops the connection itself.
    static constexpr std::chrono::milliseconds kCloseLimit{6000};

    // Takes its own reference on the device.
    static std::shared_ptr<USBTunnel> create(CVN::USB::IUSBDevice* device);
    ~USBTunnel() override;

    void connect(uint16_t port) override;
    uint16_t connectionId() const override { return m_connectionId; }
    uint16_t port() const { return m_port; }
    Q_INVOKABLE void closeConnection() override { stop(true); }
    void write(const char* data, uint64_t length) override;
    uint64_t bytesToWrite() const override;
    uint64_t read(char* dest, uint64_t max) override;
    uint64_t bytesAvailable() const override;

    // Tests shorten these; the product keeps the defaults.
    void setStopLimits(std::chrono::milliseconds drain, std::chrono::milliseconds close);

    // The read size after a read of got bytes into a buffer of size.
    static uint64_t nextReadSize(uint64_t size, uint64_t got);

public slots:
    void onTunnelClosed();
    void onConnectionClosed() { stop(false); }

private:
    // What the engine's callbacks and the threads reach this object through; cleared when
    // it goes.
    struct Link
    {
        std::mutex mutex;
        USBTunnel* tunnel = nullptr;
    };
    // The queues and the threads' state. The threads keep it, so one that a stop had to
    // leave behind (a device that stopped answering) never touches a gone object.
    struct Channel
    {
        std::atomic<bool> running{true};

        std::mutex readMutex;
        std::condition_variable readRoom;
        std::deque<std::vector<char>> readQueue;
        size_t readOffset = 0;
        uint64_t bytesQueued = 0;

        std::mutex writeMutex;
        std::condition_variable writeWake;
        std::deque<std::vector<char>> writeQueue;
        // Written and not yet taken by the engine (queued or being written).
        uint64_t bytesToWrite = 0;

        std::mutex finishedMutex;
        std::condition_variable finishedChanged;
        int threadsLeft = 0;
        bool writerFinished = false;
    };

    explicit USBTunnel(CVN::USB::IUSBDevice* device);

    bool opened(uint16_t id, CVN::USBTunnel::OperationResult result);
    void stop(bool closeRemote);
    bool halt(bool closeRemote);
    static void readLoop(std::shared_ptr<Channel> channel, std::shared_ptr<Link> link,
                         std::shared_ptr<Engine> engine, uint16_t id);
    static void writeLoop(std::shared_ptr<Channel> channel, std::shared_ptr<Link> link,
                          std::shared_ptr<Engine> engine, uint16_t id);
    static void queueStop(const std::shared_ptr<Link>& link);
    static void threadFinished(Channel& channel, bool writer);

    WebViewUsb::UsbRef<CVN::USB::IUSBDevice> m_device;
    std::shared_ptr<Link> m_link;
    std::shared_ptr<Channel> m_channel;
    std::atomic<uint16_t> m_connectionId{0};
    std::atomic<uint16_t> m_port{0};
    std::atomic<bool> m_running{false};
    std::chrono::milliseconds m_drainLimit = kDrainLimit;
    std::chrono::milliseconds m_closeLimit = kCloseLimit;

    // Start and stop of the connection and its threads.
    std::mutex m_stateMutex;
    std::shared_ptr<Engine> m_engine;
    bool m_opened = false;
    std::thread m_readThread;
    std::thread m_writeThread;
};
