#include "announcer.h"
#include "eventlog.h"
#include "privatenetwork.h"

#include "discovery/dnssd/bonjourbrowser.h"
#include "discovery/dnssd/bonjourcore.h"
#include "discovery/dnssd/bonjourhostnamelookup.h"
#include "discovery/dnssd/bonjourquery.h"
#include "discovery/dnssd/bonjourresolver.h"
#include "discovery/dnssd/dnssd.h"
#include "discovery/records/bonjourinfo.h"

#include <QtTest>

#include <net/if.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

namespace {

BonjourDevice corvane(const char* name)
{
    BonjourDevice device;
    device.serviceName = name;
    device.serviceType = "_corvane._tcp.";
    device.domain = "local.";
    return device;
}

QByteArray txtStrings(std::initializer_list<const char*> strings)
{
    QByteArray out;
    for (const char* s : strings)
        out.append(char(qstrlen(s))).append(s);
    return out;
}

// Counts the debug messages that say the core did not start.
std::atomic<int> coreFailureMessages{0};
QtMessageHandler previousHandler = nullptr;

void countCoreFailures(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.contains(QLatin1String("did not start")))
        ++coreFailureMessages;
    else
        previousHandler(type, context, text);
}

} // namespace

class TestDnsSd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void browseReportsInstancesWithDnsSdNames();
    void startsOnlyOnce();
    void resolveGivesHostAndPort();
    void lookupGivesDottedQuad();
    void queryGivesTxtDataAsSent();
    void queryIgnoresWithdrawnRecord();
    void startsFailWhileCoreIsDown();
    void lastUserStopsCoreAndNextRestartsIt();
    void destroyingWhileAnswersArrive();
    void cleanupTestCase();

private:
    Announcer m_announcer;
};

void TestDnsSd::initTestCase()
{
    // The core's start failures are debug lines of its category, off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("pellworth.discovery.debug=true"));
    START_ANNOUNCER_OR_SKIP(m_announcer);
    QVERIFY(m_announcer.registerService("Resolve Me", {{"model", "nova"}}, 8123, "resolvehost"));
    QVERIFY(m_announcer.registerRaw("Raw One", txtStrings({"a=1", "a=2", "k=v=w", "bare"})));
}

void TestDnsSd::cleanupTestCase()
{
    m_announcer.stop();
}

void TestDnsSd::browseReportsInstancesWithDnsSdNames()
{
    BonjourBrowser browser;
    EventLog<BonjourDevice> added;
    EventLog<BonjourDevice> removed;
    browser.added.connect([&](const BonjourDevice& d) { added.add(d); });
    browser.removed.connect([&](const BonjourDevice& d) { removed.add(d); });
    QVERIFY(browser.browse("_corvane._tcp"));

    QVERIFY(m_announcer.registerService("Browse One", {}));
    auto named = [](const std::vector<BonjourDevice>& v) {
        for (const BonjourDevice& d : v) {
            if (d.serviceName == "Browse One")
                return true;
        }
        return false;
    };
    QVERIFY(added.waitUntil(named));
    BonjourDevice expected = corvane("Browse One");
    expected.interfaceIndex = if_nametoindex("lo");
    QVERIFY(expected.interfaceIndex != 0);
    const auto seen = added.all();
    QVERIFY(std::find(seen.begin(), seen.end(), expected) != seen.end());
    // One report per instance: IPv4 only.
    QCOMPARE(std::count(seen.begin(), seen.end(), expected), 1);

    QVERIFY(m_announcer.unregisterService("Browse One"));
    QVERIFY(removed.waitUntil(named));
    QCOMPARE(removed.all().front(), expected);
}

void TestDnsSd::startsOnlyOnce()
{
    BonjourBrowser browser;
    QVERIFY(browser.browse("_corvane._tcp"));
    QVERIFY(!browser.browse("_corvane._tcp"));
    BonjourResolver resolver;
    QVERIFY(resolver.resolve(corvane("Resolve Me")));
    QVERIFY(!resolver.resolve(corvane("Resolve Me")));
    BonjourHostnameLookup lookup;
    QVERIFY(lookup.lookup("x", "resolvehost.local."));
    QVERIFY(!lookup.lookup("x", "resolvehost.local."));
    BonjourQuery query;
    QVERIFY(query.query(corvane("Raw One")));
    QVERIFY(!query.query(corvane("Raw One")));
    // An instance without a valid full name never starts.
    BonjourQuery invalid;
    BonjourDevice bad = corvane("Raw One");
    bad.serviceType = "no-underscore";
    QVERIFY(!invalid.query(bad));
}

void TestDnsSd::resolveGivesHostAndPort()
{
    BonjourResolver resolver;
    EventLog<std::tuple<BonjourDevice, std::string, unsigned short>> resolved;
    EventLog<int> errors;
    resolver.resolved.connect([&](const BonjourDevice& d, std::string host, unsigned short port) {
        resolved.add({d, host, port});
    });
    resolver.error.connect([&](const BonjourDevice&, int e) { errors.add(e); });
    const BonjourDevice device = corvane("Resolve Me");
    QVERIFY(resolver.resolve(device));
    QVERIFY(resolved.waitFor(1));
    const auto [who, host, port] = resolved.all().front();
    QCOMPARE(who, device);
    QCOMPARE(host, std::string("resolvehost.local."));
    QCOMPARE(port, (unsigned short)8123);
    QCOMPARE(errors.size(), size_t(0));
}

void TestDnsSd::lookupGivesDottedQuad()
{
    BonjourHostnameLookup lookup;
    EventLog<std::pair<std::string, std::string>> found;
    lookup.found.connect([&](const std::string& label, const std::string& address) {
        found.add({label, address});
    });
    QVERIFY(lookup.lookup("the label", "resolvehost.local."));
    QVERIFY(found.waitFor(1));
    QCOMPARE(found.all().front().first, std::string("the label"));
    QCOMPARE(found.all().front().second, std::string("127.0.0.1"));
}

void TestDnsSd::queryGivesTxtDataAsSent()
{
    BonjourQuery query;
    EventLog<std::pair<BonjourDevice, QByteArray>> answers;
    query.txt.connect([&](const BonjourDevice& d, unsigned short length, const void* data) {
        answers.add({d, QByteArray(static_cast<const char*>(data), length)});
    });
    QVERIFY(query.query(corvane("Raw One")));
    QVERIFY(answers.waitFor(1));
    QCOMPARE(answers.all().front().first, corvane("Raw One"));
    const QByteArray data = answers.all().front().second;
    // In wire order, so the last of a repeated key wins.
    QCOMPARE(data, txtStrings({"a=1", "a=2", "k=v=w", "bare"}));
    BonjourInfo info;
    info.parseTxt(reinterpret_cast<const unsigned char*>(data.constData()), data.size());
    const std::map<std::string, std::string> expected{{"a", "2"}, {"k", "v=w"}, {"bare", ""}};
    QCOMPARE(info.txt, expected);
}

void TestDnsSd::queryIgnoresWithdrawnRecord()
{
    QVERIFY(m_announcer.registerService("Going Away", {{"model", "nova"}}));
    BonjourQuery query;
    EventLog<QByteArray> answers;
    EventLog<int> errors;
    query.txt.connect([&](const BonjourDevice&, unsigned short length, const void* data) {
        answers.add(QByteArray(static_cast<const char*>(data), length));
    });
    query.error.connect([&](const BonjourDevice&, int e) { errors.add(e); });
    BonjourBrowser browser;
    EventLog<std::string> removed;
    browser.removed.connect([&](const BonjourDevice& d) { removed.add(d.serviceName); });
    QVERIFY(browser.browse("_corvane._tcp"));
    QVERIFY(query.query(corvane("Going Away")));
    QVERIFY(answers.waitFor(1));

    QVERIFY(m_announcer.unregisterService("Going Away"));
    QVERIFY(removed.waitFor(1));
    // The withdrawn record leaves the cache a second after the goodbye; its removal is no
    // answer.
    QVERIFY(!answers.waitFor(2, 1500));
    QCOMPARE(errors.size(), size_t(0));
}

void TestDnsSd::startsFailWhileCoreIsDown()
{
    QVERIFY(!BonjourCore::isRunning());
    coreFailureMessages = 0;
    previousHandler = qInstallMessageHandler(countCoreFailures);
    BonjourCore::failNextStartForTesting(true);
    {
        BonjourBrowser browser;
        BonjourResolver resolver;
        BonjourHostnameLookup lookup;
        BonjourQuery query;
        QVERIFY(!BonjourCore::isRunning());
        QVERIFY(!browser.browse("_corvane._tcp"));
        QVERIFY(!resolver.resolve(corvane("Resolve Me")));
        QVERIFY(!lookup.lookup("", "resolvehost.local."));
        QVERIFY(!query.query(corvane("Raw One")));
    }
    qInstallMessageHandler(previousHandler);
    // Said once for the failed core, not once per operation.
    QCOMPARE(coreFailureMessages.load(), 1);

    // The next first user tries again.
    BonjourBrowser browser;
    QVERIFY(BonjourCore::isRunning());
    QVERIFY(browser.browse("_corvane._tcp"));
}

void TestDnsSd::lastUserStopsCoreAndNextRestartsIt()
{
    QVERIFY(!BonjourCore::isRunning());
    const int starts = BonjourCore::startCountForTesting();
    {
        BonjourBrowser first;
        QVERIFY(BonjourCore::isRunning());
        {
            BonjourQuery second;
            QCOMPARE(BonjourCore::startCountForTesting(), starts + 1);
        }
        QVERIFY(BonjourCore::isRunning());
    }
    QVERIFY(!BonjourCore::isRunning());

    BonjourResolver again;
    QVERIFY(BonjourCore::isRunning());
    QCOMPARE(BonjourCore::startCountForTesting(), starts + 2);
    // The restarted core works.
    EventLog<std::string> resolved;
    again.resolved.connect(
        [&](const BonjourDevice&, std::string host, unsigned short) { resolved.add(host); });
    QVERIFY(again.resolve(corvane("Resolve Me")));
    QVERIFY(resolved.waitFor(1));
}

void TestDnsSd::destroyingWhileAnswersArrive()
{
    // Keeps the core and its cache up, so answers come at once.
    BonjourBrowser keeper;
    QVERIFY(keeper.browse("_corvane._tcp"));
    std::atomic<int> delivered{0};
    std::mt19937 random(42);
    for (int i = 0; i < 150; ++i) {
        // Slots write into memory that goes with the wrappers; a late answer would touch it
        // after it was freed.
        struct Sink
        {
            std::vector<int> hits = std::vector<int>(4, 0);
        };
        auto sink = std::make_unique<Sink>();
        auto query = std::make_unique<BonjourQuery>();
        auto resolver = std::make_unique<BonjourResolver>();
        auto lookup = std::make_unique<BonjourHostnameLookup>();
        Sink* s = sink.get();
        query->txt.connect([s, &delivered](const BonjourDevice&, unsigned short, const void*) {
            ++s->hits[0];
            ++delivered;
        });
        resolver->resolved.connect(
            [s, &delivered](const BonjourDevice&, std::string, unsigned short) {
                ++s->hits[1];
                ++delivered;
            });
        lookup->found.connect([s, &delivered](const std::string&, const std::string&) {
            ++s->hits[2];
            ++delivered;
        });
        QVERIFY(query->query(corvane("Raw One")));
        QVERIFY(resolver->resolve(corvane("Resolve Me")));
        QVERIFY(lookup->lookup("", "resolvehost.local."));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        query.reset();
        resolver.reset();
        lookup.reset();
        sink.reset();
    }
    // Answers did arrive while objects went.
    QVERIFY(delivered.load() > 0);
}

PRIVATE_NETWORK_TEST_MAIN(TestDnsSd)

#include "tst_dnssd.moc"
