#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 (a free port) that serves each connection on a thread of its
// own with blocking sockets; the handler's return closes the connection. Destruction shuts
// every connection down and joins the threads.
class LoopbackServer
{
public:
    using Handler = std::function<void(int fd)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t port() const { return m_port; }
    int accepted() const { return m_accepted; }
    // Connections whose handler has returned: the peer closed, or the server did.
    int finished() const { return m_finished; }

    // Sends back whatever comes until the peer closes.
    static void echo(int fd);
    // A request up to its empty line; empty when the peer closed first.
    static QByteArray readRequest(int fd);
    // Reads a request up to its empty line, answers "200 OK" with body, then closes.
    static Handler http(QByteArray body);
    static QByteArray httpResponse(const QByteArray& body);
    static bool sendAll(int fd, const char* data, size_t size);

private:
    void acceptLoop();

    Handler m_handler;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    uint16_t m_port = 0;
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_finished{0};
    std::mutex m_mutex;
    std::vector<int> m_fds;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};
