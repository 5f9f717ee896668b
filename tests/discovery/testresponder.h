#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A stand-in for a device's responder on port 5353 of a loopback address: it records every
// datagram and sends back whatever its answer function makes of it (nothing when empty).
class TestResponder
{
public:
    using Bytes = std::vector<unsigned char>;
    using Answer = std::function<Bytes(const Bytes& query)>;

    TestResponder(const std::string& host, Answer answer)
        : m_answer(std::move(answer))
    {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(5353);
        ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        m_bound = ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        m_thread = std::thread([this] { run(); });
    }

    ~TestResponder()
    {
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        ::close(m_socket);
    }

    bool isBound() const { return m_bound; }

    bool waitForQueries(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_queries.size() >= count; });
    }

    std::vector<Bytes> queries()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queries;
    }

    // True when a datagram waits in the socket that the responder has not read yet.
    bool hasUnreadDatagram()
    {
        unsigned char byte;
        return ::recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
    }

private:
    void run()
    {
        for (;;) {
            Bytes buffer(65536);
            sockaddr_in peer{};
            socklen_t peerLength = sizeof peer;
            const ssize_t n = ::recvfrom(m_socket, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&peer), &peerLength);
            if (n <= 0)
                return;
            buffer.resize(size_t(n));
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_queries.push_back(buffer);
            }
            m_changed.notify_all();
            const Bytes reply = m_answer ? m_answer(buffer) : Bytes();
            if (!reply.empty())
                ::sendto(m_socket, reply.data(), reply.size(), 0,
                         reinterpret_cast<sockaddr*>(&peer), peerLength);
        }
    }

    Answer m_answer;
    int m_socket = -1;
    bool m_bound = false;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Bytes> m_queries;
};
