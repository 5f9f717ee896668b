#pragma once

#include "discovery/dns/dnsreply.h"
#include "discovery/dns/udpreceiver.h"
#include "discovery/threading/signal.h"

#include <atomic>
#include <cstdint>
#include <string>

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

    // 0 when the query left, -1 when it did not (busy, bad type, no route).
    int sendQuery(const std::string& host, uint16_t port, const std::string& serviceType);
    // The last reply parsed; read it on the receive thread, from a slot of replied.
    const DNSReply& reply() const { return m_reply; }
    // Ends the receive thread; nothing is emitted afterwards.
    void stop();

private:
    void onDatagram();

    UdpReceiver m_receiver;
    std::atomic<uint16_t> m_expectedId{0};
    DNSReply m_reply;
};
