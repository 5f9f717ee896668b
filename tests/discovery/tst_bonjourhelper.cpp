#include "announcer.h"
#include "privatenetwork.h"
#include "stalledport.h"

#include "discovery/dnssd/bonjourcore.h"
#include "discovery/dnssd/bonjourhelper.h"
#include "discovery/dnssd/bonjourhelperinfoquery.h"
#include "discovery/dnssd/bonjourhelperlookup.h"
#include "discovery/dnssd/bonjourhelperresolver.h"
#include "discovery/dnssd/bonjourhostnamelookup.h"

#include <QTcpServer>
#include <QtTest>

namespace {

constexpr int kShortTimeoutMs = 300;

BonjourInfo corvane(const char* name)
{
    BonjourInfo info;
    info.serviceName = name;
    info.serviceType = "_corvane._tcp.";
    info.domain = "local.";
    return info;
}

// One callback's calls, with the thread each came on.
template<typename... A> struct Calls
{
    std::function<void(A...)> callback()
    {
        return [this](A... args) {
            results.append(std::make_tuple(std::decay_t<A>(args)...));
            threads.append(QThread::currentThread());
        };
    }
    bool onGuiThreadOnly() const
    {
        for (QThread* t : threads) {
            if (t != qApp->thread())
                return false;
        }
        return true;
    }
    QList<std::tuple<std::decay_t<A>...>> results;
    QList<QThread*> threads;
};

// Lets queued answers and deferred deletions run, so late callbacks would show.
void settle(int ms)
{
    QTest::qWait(ms);
}

} // namespace

class TestBonjourHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void helperSignalsReachGuiThread();
    void cachedInstanceReachesReceiversConnectedAfterConstruction();
    void resolverResolves();
    void resolverTimesOut();
    void lookup_data();
    void lookup();
    void entriesFailBeforeReturningWhileCoreIsDown();
    void infoQueryAsksHostDirectly();
    void infoQueryTimesOut();
    void manyOneShotsFinishOnce();
    void cleanupTestCase();

private:
    Announcer m_announcer;
    // Keeps the core and its cache up across the look-up rows.
    std::unique_ptr<BonjourHostnameLookup> m_warm;
    QAtomicInt m_warmed;
};

void TestBonjourHelper::initTestCase()
{
    // The core's start failures are debug lines of its category, off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("pellworth.discovery.debug=true"));
    START_ANNOUNCER_OR_SKIP(m_announcer);
    QVERIFY(m_announcer.registerService("Helper Resolve", {}, 8321, "helperhost"));
}

void TestBonjourHelper::cleanupTestCase()
{
    m_announcer.stop();
}

void TestBonjourHelper::helperSignalsReachGuiThread()
{
    // An empty name browses the default type.
    BonjourHelper helper(QString(), 100);
    QStringList events;
    QList<QThread*> threads;
    QObject receiver;
    auto record = [&](const char* what) {
        return [&, what](const BonjourInfo& info) {
            if (info.serviceName != "Helper One")
                return;
            events << QString::fromLatin1(what) + ":" + QString::fromStdString(info.txt.at("v"));
            threads << QThread::currentThread();
        };
    };
    connect(&helper, &BonjourHelper::deviceArrived, &receiver, record("arrived"));
    connect(&helper, &BonjourHelper::deviceUpdated, &receiver, record("updated"));
    connect(&helper, &BonjourHelper::deviceRemoved, &receiver, record("removed"));

    QVERIFY(m_announcer.registerService("Helper One", {{"v", "1"}}));
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 10000);
    QVERIFY(m_announcer.updateService("Helper One", {{"v", "2"}}));
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 10000);
    QVERIFY(m_announcer.unregisterService("Helper One"));
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 3, 10000);
    QCOMPARE(events, (QStringList{"arrived:1", "updated:2", "removed:2"}));
    for (QThread* t : threads)
        QCOMPARE(t, qApp->thread());
}

void TestBonjourHelper::cachedInstanceReachesReceiversConnectedAfterConstruction()
{
    // A first helper keeps the core up and its cache holding the instance, as an earlier
    // window's discovery does.
    QVERIFY(m_announcer.registerService("Helper Cached", {{"v", "1"}}));
    BonjourHelper first(QString(), 100);
    bool cached = false;
    connect(&first, &BonjourHelper::deviceArrived, this,
            [&](const BonjourInfo& info) { cached |= info.serviceName == "Helper Cached"; });
    QTRY_VERIFY_WITH_TIMEOUT(cached, 10000);

    // The second one answers from that cache at once; its creator connects a moment later,
    // without returning to the event loop in between.
    BonjourHelper second(QString(), 100);
    QThread::msleep(300);
    QStringList arrived;
    connect(&second, &BonjourHelper::deviceArrived, this,
            [&](const BonjourInfo& info) { arrived << QString::fromStdString(info.serviceName); });
    QTRY_VERIFY_WITH_TIMEOUT(arrived.contains("Helper Cached"), 10000);
    QVERIFY(m_announcer.unregisterService("Helper Cached"));
}

void TestBonjourHelper::resolverResolves()
{
    Calls<int, const std::string&, uint16_t> calls;
    BonjourHelperResolver::resolve(corvane("Helper Resolve"), calls.callback());
    QTRY_COMPARE_WITH_TIMEOUT(calls.results.size(), 1, 10000);
    QCOMPARE(calls.results.front(),
             std::make_tuple(0, std::string("helperhost.local."), uint16_t(8321)));
    QVERIFY(calls.onGuiThreadOnly());
    settle(100);
    QCOMPARE(calls.results.size(), 1);
}

void TestBonjourHelper::resolverTimesOut()
{
    Calls<int, const std::string&, uint16_t> calls;
    QElapsedTimer elapsed;
    elapsed.start();
    BonjourHelperResolver::resolve(corvane("Nobody Here"), calls.callback(), kShortTimeoutMs);
    QVERIFY(calls.results.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(calls.results.size(), 1, 10000);
    // Qt's coarse timers may fire up to 5% early.
    QVERIFY(elapsed.elapsed() >= kShortTimeoutMs * 95 / 100);
    QCOMPARE(calls.results.front(),
             std::make_tuple(int(kDNSServiceErr_Timeout), std::string(), uint16_t(0)));
    settle(kShortTimeoutMs);
    QCOMPARE(calls.results.size(), 1);
}

void TestBonjourHelper::lookup_data()
{
    QTest::addColumn<QString>("host");
    // What answers on the checked port: "none" asks for no check.
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("address");
    const int timeout = kDNSServiceErr_Timeout;
    QTest::newRow("address only") << "helperhost.local."
                                  << "none" << 0 << "127.0.0.1";
    QTest::newRow("port open") << "helperhost.local."
                               << "open" << 0 << "127.0.0.1";
    QTest::newRow("port closed") << "helperhost.local."
                                 << "closed" << timeout << "";
    QTest::newRow("port never answers") << "helperhost.local."
                                        << "stalled" << timeout << "";
    QTest::newRow("unknown host") << "nobody.local."
                                  << "none" << timeout << "";
}

void TestBonjourHelper::lookup()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(int, error);
    QFETCH(QString, address);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    uint16_t checkedPort = port == "none" ? 0 : server.serverPort();
    if (port != "open")
        server.close();
    StalledPort stalled;
    if (port == "stalled") {
        QVERIFY2(stalled.isStalled(), "every connect to the full listener completed");
        checkedPort = stalled.port();
    }

    // A warm core answers from its cache well within the short time-out, so a failure in the
    // connection rows comes from the connection check.
    if (!m_warm) {
        m_warm = std::make_unique<BonjourHostnameLookup>();
        m_warm->found.connect([this](const std::string&, const std::string&) { m_warmed = 1; });
        QVERIFY(m_warm->lookup("", "helperhost.local."));
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_warmed.loadAcquire(), 10000);

    Calls<int, const std::string&> calls;
    QElapsedTimer elapsed;
    elapsed.start();
    BonjourHelperLookup::lookup(host.toStdString(), calls.callback(), checkedPort, kShortTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(calls.results.size(), 1, 10000);
    QCOMPARE(calls.results.front(), std::make_tuple(error, address.toStdString()));
    QVERIFY(calls.onGuiThreadOnly());
    if (error == kDNSServiceErr_Timeout) {
        // The given time-out, not the default one, and not a give-up at the first refusal; a
        // coarse timer may fire up to 5% early.
        const qint64 took = elapsed.elapsed();
        QVERIFY2(took >= kShortTimeoutMs * 19 / 20, qPrintable(QString::number(took)));
        QVERIFY2(took < BonjourHelperLookup::kTimeoutMs * 9 / 10,
                 qPrintable(QString::number(took)));
    }
    settle(kShortTimeoutMs + 100);
    QCOMPARE(calls.results.size(), 1);
}

void TestBonjourHelper::entriesFailBeforeReturningWhileCoreIsDown()
{
    m_warm.reset();
    QTRY_VERIFY(!BonjourCore::isRunning());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("did not start"));
    BonjourCore::failNextStartForTesting(true);
    Calls<int, const std::string&, uint16_t> resolved;
    Calls<int, const std::string&> lookedUp;
    // The resolver's failed core keeps failing while its object waits for deletion.
    BonjourHelperResolver::resolve(corvane("Helper Resolve"), resolved.callback());
    BonjourHelperLookup::lookup("helperhost.local.", lookedUp.callback(), 80);
    QCOMPARE(resolved.results.size(), 1);
    QCOMPARE(resolved.results.front(),
             std::make_tuple(int(kDNSServiceErr_Timeout), std::string(), uint16_t(0)));
    QCOMPARE(lookedUp.results.size(), 1);
    QCOMPARE(lookedUp.results.front(), std::make_tuple(int(kDNSServiceErr_Timeout), std::string()));
    settle(100);
    QCOMPARE(resolved.results.size(), 1);
    QCOMPARE(lookedUp.results.size(), 1);
}

void TestBonjourHelper::infoQueryAsksHostDirectly()
{
    // An empty type asks for the default one.
    Calls<bool, const BonjourInfo&> calls;
    BonjourHelperInfoQuery::query("127.0.0.1", calls.callback());
    QTRY_COMPARE_WITH_TIMEOUT(calls.results.size(), 1, 10000);
    QCOMPARE(std::get<0>(calls.results.front()), true);
    const BonjourInfo info = std::get<1>(calls.results.front());
    QCOMPARE(info.serviceName, std::string("Helper Resolve"));
    QCOMPARE(info.hostName, std::string("127.0.0.1"));
    QCOMPARE(info.port, uint16_t(8321));
    settle(100);
    QCOMPARE(calls.results.size(), 1);
}

void TestBonjourHelper::infoQueryTimesOut()
{
    // The announcer offers no such type, so no reply comes.
    Calls<bool, const BonjourInfo&> calls;
    BonjourHelperInfoQuery::query("127.0.0.1", calls.callback(), "_none._tcp.local",
                                  kShortTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(calls.results.size(), 1, 10000);
    QCOMPARE(std::get<0>(calls.results.front()), false);
    QVERIFY(calls.onGuiThreadOnly());
    // Later ticks of the query's own timer are not reported again.
    settle(2 * kShortTimeoutMs);
    QCOMPARE(calls.results.size(), 1);
}

void TestBonjourHelper::manyOneShotsFinishOnce()
{
    Calls<int, const std::string&, uint16_t> resolved;
    Calls<int, const std::string&> lookedUp;
    for (int i = 0; i < 40; ++i) {
        // Short time-outs race the answers.
        BonjourHelperResolver::resolve(corvane("Helper Resolve"), resolved.callback(), 1 + i);
        BonjourHelperLookup::lookup("helperhost.local.", lookedUp.callback(), 0, 1 + i);
    }
    QTRY_COMPARE_WITH_TIMEOUT(resolved.results.size(), 40, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(lookedUp.results.size(), 40, 10000);
    settle(200);
    QCOMPARE(resolved.results.size(), 40);
    QCOMPARE(lookedUp.results.size(), 40);
    QVERIFY(resolved.onGuiThreadOnly());
    QVERIFY(lookedUp.onGuiThreadOnly());
    // Every object, with its wrapper and core user, has gone.
    QTRY_VERIFY(!BonjourCore::isRunning());
}

PRIVATE_NETWORK_TEST_MAIN(TestBonjourHelper)

#include "tst_bonjourhelper.moc"
