#include "loopbackserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackServer::LoopbackServer(Handler handler)
    : m_handler(std::move(handler))
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listen, 64) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int fd : m_fds)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : m_threads)
        t.join();
    for (int fd : m_fds)
        ::close(fd);
    for (int fd : {m_listen, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

void LoopbackServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents)
            return;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_accepted;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fds.push_back(fd);
        m_threads.emplace_back([this, fd] {
            m_handler(fd);
            // The descriptor stays open until destruction, so it cannot be reused meanwhile.
            ::shutdown(fd, SHUT_RDWR);
            ++m_finished;
        });
    }
}

bool LoopbackServer::sendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

void LoopbackServer::echo(int fd)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0 || !sendAll(fd, buffer, size_t(n)))
            return;
    }
}

QByteArray LoopbackServer::httpResponse(const QByteArray& body)
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

QByteArray LoopbackServer::readRequest(int fd)
{
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n")) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        request.append(buffer, n);
    }
    return request;
}

LoopbackServer::Handler LoopbackServer::http(QByteArray body)
{
    return [body](int fd) {
        if (readRequest(fd).isEmpty())
            return;
        const QByteArray response = httpResponse(body);
        sendAll(fd, response.constData(), size_t(response.size()));
    };
}
