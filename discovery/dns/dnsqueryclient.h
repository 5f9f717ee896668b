#pragma once

#include "discovery/dns/dnsreply.h"
#include "discovery/dns/udpreceiver.h"
#include "discovery/threading/signal.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Sends one PTR query by unicast UDP and parses the datagram that comes back.
class DNSQueryClient
{
public:
    DNSQueryClient();
    virtual ~DNSQueryClient();

    DNSQueryClient(const DNSQueryClient&) = delete;
    DNSQueryClient& operator=(const DNSQueryClient&) = delete;

    // Emitted on the receive thread with whether the datagram parsed as the reply.
    Signal<void(bool)> replied;

    // 0 when the query left or waits to leave, -1 when it cannot (bad type, no route). While
    // an earlier query still waits for its reply, the new one waits too: that reply, which
    // answers the earlier question, is dropped, and the new query then leaves.
    int sendQuery(const std::string& host, uint16_t port, const std::string& serviceType);
    // The last reply parsed; read it on the receive thread, from a slot of replied.
    const DNSReply& reply() const { return m_reply; }
    // Ends the receive thread; nothing is emitted afterwards.
    void stop();

private:
    struct Query
    {
        std::vector<unsigned char> message;
        uint16_t id = 0;
        std::string host;
        uint16_t port = 0;
    };

    void onDatagram();
    // Called with m_sendMutex held.
    int send(const Query& query);

    UdpReceiver m_receiver;
    std::atomic<uint16_t> m_expectedId{0};
    DNSReply m_reply;
    // Orders a send against the receive thread freeing the receiver.
    std::mutex m_sendMutex;
    std::optional<Query> m_next;
};
