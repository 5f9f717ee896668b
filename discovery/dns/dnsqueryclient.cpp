#include "discovery/dns/dnsqueryclient.h"

#include "discovery/dns/dnsmessage.h"

#include <cstdlib>

DNSQueryClient::DNSQueryClient()
{
    m_receiver.datagramReceived.connect([this] { onDatagram(); });
}

DNSQueryClient::~DNSQueryClient()
{
    // The receive thread parses into the reply: end it before anything goes.
    stop();
}

void DNSQueryClient::stop()
{
    m_receiver.stop();
}

int DNSQueryClient::sendQuery(const std::string& host, uint16_t port,
                              const std::string& serviceType)
{
    Query query;
    query.id = uint16_t(std::rand());
    query.message = encodePtrQuery(query.id, serviceType);
    if (query.message.empty())
        return -1;
    query.host = host;
    query.port = port;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (m_receiver.isBusy()) {
        // The reply still awaited answers the earlier question, not this one.
        m_next = std::move(query);
        return 0;
    }
    return send(query);
}

int DNSQueryClient::send(const Query& query)
{
    m_expectedId.store(query.id);
    return m_receiver.send(query.message.data(), int(query.message.size()), query.host, query.port);
}

void DNSQueryClient::onDatagram()
{
    uint16_t expectedId = 0;
    std::vector<unsigned char> datagram;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        // Read the id before the receiver is freed for the next query.
        expectedId = m_expectedId.load();
        if (!m_receiver.takeDatagram(&datagram))
            return;
        if (m_next) {
            // A reply to a question asked before the latest: dropped, and the latest asked.
            const Query next = std::move(*m_next);
            m_next.reset();
            send(next);
            return;
        }
    }
    replied.emit(m_reply.parse(datagram.data(), datagram.size(), expectedId));
}
