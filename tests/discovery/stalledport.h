#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

// A TCP port on 127.0.0.1 where a connect neither completes nor is refused: the listener never
// accepts, and once its accept queue is full the kernel drops every further SYN, so the client
// stays in SYN_SENT. Needs no firewall rules.
class StalledPort
{
public:
    StalledPort()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 0) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // Fill the queue until a probe stays pending; the pending probe is not kept.
        for (int i = 0; i < 4; ++i) {
            const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            sockaddr_in target = loopback(m_port);
            ::connect(probe, reinterpret_cast<sockaddr*>(&target), sizeof target);
            pollfd wait{probe, POLLOUT, 0};
            if (::poll(&wait, 1, 50) == 0) {
                ::close(probe);
                m_stalled = true;
                return;
            }
            m_fillers.push_back(probe);
        }
    }

    ~StalledPort()
    {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }

    StalledPort(const StalledPort&) = delete;
    StalledPort& operator=(const StalledPort&) = delete;

    // False when this kernel completed or refused every probe.
    bool isStalled() const { return m_stalled; }
    uint16_t port() const { return m_port; }

private:
    static sockaddr_in loopback(uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    int m_listener = -1;
    std::vector<int> m_fillers;
    uint16_t m_port = 0;
    bool m_stalled = false;
};
