#include "dnsmessagebuilder.h"
#include "testresponder.h"

#include "discovery/dns/bonjourinfoquery.h"
#include "discovery/dns/dnsmessage.h"

#include <QtTest>

#include <algorithm>
#include <chrono>
#include <future>

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kType = "_corvane._tcp.local";

unsigned idOf(const Bytes& query)
{
    return query.size() >= 2 ? unsigned(query[0] << 8 | query[1]) : 0;
}

// The usual reply, to the query's own id.
Bytes usualReply(const Bytes& query)
{
    ReplyShape shape;
    shape.id = idOf(query);
    return buildReply(shape);
}

// Collects completed() outcomes from whichever thread emits them.
class Outcomes
{
public:
    explicit Outcomes(BonjourInfoQuery& query)
        : m_signal(query.completed)
    {
        m_connection = m_signal.connect([this](bool ok) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_results.push_back(ok);
                m_times.push_back(Clock::now());
            }
            m_changed.notify_all();
        });
    }
    // The query outlives this: a time-out may still be emitted while it is destroyed.
    ~Outcomes() { m_signal.disconnect(m_connection); }
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_results.size() >= count; });
    }
    bool waitForSuccess()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(m_results.begin(), m_results.end(), true) != m_results.end();
        });
    }
    std::vector<bool> results()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }
    std::vector<Clock::time_point> times()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_times;
    }

private:
    Signal<void(bool)>& m_signal;
    int m_connection = -1;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<bool> m_results;
    std::vector<Clock::time_point> m_times;
};

} // namespace

class TestInfoQuery : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answered_data();
    void answered();
    void avahiDaemonsReplyIsTaken();
    void replyToAnotherIdFailsAtOnce();
    void addressWithLeadingZerosIsAsked();
    void silentHostTimesOutEveryPeriod();
    void secondQueryIsAnsweredByItsOwnReply_data();
    void secondQueryIsAnsweredByItsOwnReply();
};

void TestInfoQuery::answered_data()
{
    QTest::addColumn<bool>("srv");
    QTest::addColumn<bool>("txt");
    QTest::addColumn<int>("padTo");
    QTest::newRow("full") << true << true << 0;
    QTest::newRow("no SRV, no TXT") << false << false << 0;
    QTest::newRow("largest datagram taken") << true << true << 1499;
}

void TestInfoQuery::answered()
{
    QFETCH(bool, srv);
    QFETCH(bool, txt);
    QFETCH(int, padTo);
    const std::string host = "127.0.0.91";
    TestResponder responder(host, [&](const Bytes& query) {
        ReplyShape shape;
        shape.id = idOf(query);
        shape.withSrv = srv;
        shape.withTxt = txt;
        shape.withAaaaAndNsec = padTo > 0;
        Bytes reply = buildReply(shape);
        if (padTo > 0) {
            // Grow the AAAA record's neighbour, an unknown record, to reach the size wanted.
            DnsMessageBuilder pad;
            pad.u8(0).recordHeader(99, unsigned(padTo - int(reply.size()) - 11));
            pad.bytes.resize(size_t(padTo) - reply.size(), 0);
            reply.insert(reply.end(), pad.bytes.begin(), pad.bytes.end());
            reply[11] += 1;
        }
        return reply;
    });
    QVERIFY(responder.isBound());

    BonjourInfoQuery query;
    Outcomes outcomes(query);
    query.query(host, 60000, kType);
    QVERIFY(outcomes.waitFor(1));
    QCOMPARE(outcomes.results(), std::vector<bool>{true});

    const Bytes sent = responder.queries().at(0);
    QCOMPARE(sent, encodePtrQuery(uint16_t(idOf(sent)), kType));

    const BonjourInfo& info = query.info();
    QCOMPARE(info.serviceName, std::string("Studio Deck"));
    QCOMPARE(info.serviceType, std::string("_corvane._tcp.local."));
    QCOMPARE(info.domain, std::string("."));
    QCOMPARE(info.interfaceIndex, 0u);
    QCOMPARE(info.hostName, host);
    QCOMPARE(info.address, std::string(srv ? "deck.local." : ""));
    QCOMPARE(info.port, uint16_t(srv ? 8080 : 0));
    const std::map<std::string, std::string> wantTxt = {{"model", "nova"}, {"serial", "A1B2"}};
    QVERIFY(info.txt == (txt ? wantTxt : std::map<std::string, std::string>()));
    QVERIFY(!info.seen);
}

// The most common responder on Linux puts the instance's records among the answers.
void TestInfoQuery::avahiDaemonsReplyIsTaken()
{
    const std::string host = "127.0.0.96";
    TestResponder responder(host, [](const Bytes& query) { return avahiDaemonReply(idOf(query)); });
    QVERIFY(responder.isBound());
    BonjourInfoQuery query;
    Outcomes outcomes(query);
    query.query(host, 60000, "_http._tcp.local");
    QVERIFY(outcomes.waitFor(1));
    QCOMPARE(outcomes.results(), std::vector<bool>{true});
    const BonjourInfo& info = query.info();
    QCOMPARE(info.serviceName, std::string("Studio Deck"));
    QCOMPARE(info.serviceType, std::string("_http._tcp.local."));
    QCOMPARE(info.hostName, host);
    QCOMPARE(info.address, std::string("vm.local."));
    QCOMPARE(info.port, uint16_t(8080));
    const std::map<std::string, std::string> wantTxt = {{"model", "nova"}, {"serial", "A1B2"}};
    QVERIFY(info.txt == wantTxt);
}

void TestInfoQuery::replyToAnotherIdFailsAtOnce()
{
    const std::string host = "127.0.0.92";
    TestResponder responder(host, [](const Bytes& query) {
        ReplyShape shape;
        shape.id = (idOf(query) + 1) & 0xFFFF;
        return buildReply(shape);
    });
    QVERIFY(responder.isBound());
    BonjourInfoQuery query;
    Outcomes outcomes(query);
    // The time-out is far away: the false comes from the reply.
    query.query(host, 60000, kType);
    QVERIFY(outcomes.waitFor(1));
    QCOMPARE(outcomes.results(), std::vector<bool>{false});
}

// Read as octal, "010" would be 8: the query would go to a host where nothing answers.
void TestInfoQuery::addressWithLeadingZerosIsAsked()
{
    TestResponder responder("127.0.0.10", usualReply);
    QVERIFY(responder.isBound());
    BonjourInfoQuery query;
    Outcomes outcomes(query);
    query.query("127.000.000.010", 60000, kType);
    QVERIFY(outcomes.waitFor(1));
    QCOMPARE(outcomes.results(), std::vector<bool>{true});
    QCOMPARE(responder.queries().size(), size_t(1));
}

void TestInfoQuery::silentHostTimesOutEveryPeriod()
{
    const std::string host = "127.0.0.93";
    TestResponder responder(host, {});
    QVERIFY(responder.isBound());
    const auto period = std::chrono::milliseconds(30);
    {
        BonjourInfoQuery query;
        Outcomes outcomes(query);
        const auto started = Clock::now();
        query.query(host, int(period.count()), kType);
        QVERIFY(outcomes.waitFor(3));
        QVERIFY(responder.waitForQueries(1));
        const std::vector<bool> results = outcomes.results();
        QVERIFY(std::none_of(results.begin(), results.end(), [](bool ok) { return ok; }));
        const auto times = outcomes.times();
        QVERIFY(times[0] - started >= period);
        for (size_t i = 1; i < times.size(); ++i)
            QVERIFY(times[i] - times[i - 1] >= period);
        // Leaving the scope destroys the query while its receive blocks: it must wake.
    }
    QCOMPARE(responder.queries().size(), size_t(1));
}

void TestInfoQuery::secondQueryIsAnsweredByItsOwnReply_data()
{
    QTest::addColumn<int>("firstTimeoutMs");
    QTest::newRow("first still waiting") << 60000;
    QTest::newRow("first timed out") << 50;
}

// A question asked while the reply to an earlier one is still awaited: that late reply answers
// the earlier question, never this one; it is dropped, and this question then leaves.
void TestInfoQuery::secondQueryIsAnsweredByItsOwnReply()
{
    QFETCH(int, firstTimeoutMs);
    const std::string host = "127.0.0.94";
    std::promise<void> go;
    std::shared_future<void> answerNow = go.get_future().share();
    TestResponder responder(host, [&](const Bytes& query) {
        answerNow.wait();
        // Each question gets the reply for its own type.
        return query == encodePtrQuery(uint16_t(idOf(query)), "_http._tcp.local")
                   ? avahiDaemonReply(idOf(query))
                   : usualReply(query);
    });
    QVERIFY(responder.isBound());
    BonjourInfoQuery query;
    Outcomes outcomes(query);
    query.query(host, firstTimeoutMs, kType);
    QVERIFY(responder.waitForQueries(1));
    if (firstTimeoutMs < 1000)
        QVERIFY(outcomes.waitFor(1));
    query.query(host, 60000, "_http._tcp.local");
    // Loopback delivers within the send call: a second datagram would be waiting now.
    QVERIFY(!responder.hasUnreadDatagram());
    go.set_value();
    QVERIFY(outcomes.waitForSuccess());
    QVERIFY(responder.waitForQueries(2));
    QCOMPARE(query.info().serviceType, std::string("_http._tcp.local."));
    const std::vector<bool> results = outcomes.results();
    QCOMPARE(int(std::count(results.begin(), results.end(), true)), 1);
}

QTEST_APPLESS_MAIN(TestInfoQuery)
#include "tst_infoquery.moc"
