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
    // A query still waiting keeps its id, so that its reply is still recognised.
    if (m_receiver.isBusy())
        return -1;
    const uint16_t id = uint16_t(std::rand());
    const std::vector<unsigned char> message = encodePtrQuery(id, serviceType);
    if (message.empty())
        return -1;
    m_expectedId.store(id);
    return m_receiver.send(message.data(), int(message.size()), host, port);
}

void DNSQueryClient::onDatagram()
{
    // Read the id before the receiver is freed for the next query.
    const uint16_t expectedId = m_expectedId.load();
    std::vector<unsigned char> datagram;
    if (!m_receiver.takeDatagram(&datagram))
        return;
    replied.emit(m_reply.parse(datagram.data(), datagram.size(), expectedId));
}
