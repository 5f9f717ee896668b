#include "discovery/dns/bonjourinfoquery.h"

#include "discovery/dns/bonjourinfoqueryprivate.h"

BonjourInfoQueryPrivate::BonjourInfoQueryPrivate(BonjourInfoQuery& owner)
    : owner(owner)
{
    client.replied.connect([this](bool ok) { onReply(ok); });
    timer.connect([this] { onTimeout(); });
}

BonjourInfoQueryPrivate::~BonjourInfoQueryPrivate()
{
    timer.stop();
    // A reply being handled reads the host and the timer: let the receive thread end before
    // either goes.
    client.stop();
}

void BonjourInfoQueryPrivate::onReply(bool ok)
{
    timer.stop();
    if (ok) {
        const DNSReply& reply = client.reply();
        result.serviceName = reply.instanceName();
        // Names read from the wire end with a dot: the type keeps it and the domain is ".".
        const std::string& question = reply.questionName();
        const size_t dot = question.rfind('.');
        if (dot == std::string::npos) {
            result.serviceType.clear();
            result.domain.clear();
        } else {
            result.serviceType = question.substr(0, dot + 1);
            result.domain = question.substr(dot + 1) + ".";
        }
        result.interfaceIndex = 0;
        result.parseTxt(reply.txtData(), reply.txtLength());
        result.hostName = host;
        result.address = reply.serviceTarget();
        result.port = reply.servicePort();
        result.seen = false;
    }
    owner.completed.emit(ok);
}

void BonjourInfoQueryPrivate::onTimeout()
{
    owner.completed.emit(false);
}

BonjourInfoQuery::BonjourInfoQuery()
    : d(std::make_unique<BonjourInfoQueryPrivate>(*this))
{
}

BonjourInfoQuery::~BonjourInfoQuery() = default;

void BonjourInfoQuery::query(const std::string& host, int timeoutMs, const std::string& serviceType)
{
    d->host = host;
    d->timer.start(timeoutMs);
    // A query that could not be sent ends in the time-out.
    d->client.sendQuery(host, kPort, serviceType);
}

const BonjourInfo& BonjourInfoQuery::info() const
{
    return d->result;
}
