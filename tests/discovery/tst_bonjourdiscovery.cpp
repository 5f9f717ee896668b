#include "announcer.h"
#include "eventlog.h"
#include "privatenetwork.h"

#include "discovery/dnssd/bonjourbrowser.h"
#include "discovery/dnssd/bonjourcore.h"
#include "discovery/dnssd/bonjourdiscovery.h"

#include <QtTest>

#include <thread>

namespace {

constexpr int kTickMs = 100;

using Txt = std::map<std::string, std::string>;

bool hasName(const std::vector<BonjourInfo>& infos, const std::string& name)
{
    for (const BonjourInfo& info : infos) {
        if (info.serviceName == name)
            return true;
    }
    return false;
}

// What a discovery reported, from the core thread.
struct Reports
{
    explicit Reports(BonjourDiscovery& discovery)
    {
        discovery.deviceArrived.connect([this](const BonjourInfo& i) { arrived.add(i); });
        discovery.deviceUpdated.connect([this](const BonjourInfo& i) { updated.add(i); });
        discovery.deviceRemoved.connect([this](const BonjourInfo& i) { removed.add(i); });
    }
    EventLog<BonjourInfo> arrived;
    EventLog<BonjourInfo> updated;
    EventLog<BonjourInfo> removed;
};

void waitTicks(int ticks)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ticks * kTickMs));
}

} // namespace

class TestBonjourDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void arrivesUpdatesOnceAndLeaves();
    void emptyTxtRecordArrives();
    void removalBeforeFirstAnswer();
    void failedQueryStartIsRetried();
    void cleanupTestCase();

private:
    // Waits until a plain browse sees the instance, so the discovery's browse has too.
    bool browsed(const std::string& name);

    Announcer m_announcer;
};

void TestBonjourDiscovery::initTestCase()
{
    START_ANNOUNCER_OR_SKIP(m_announcer);
}

void TestBonjourDiscovery::cleanup()
{
    BonjourCore::refuseStartsForTesting(0);
}

void TestBonjourDiscovery::cleanupTestCase()
{
    m_announcer.stop();
}

bool TestBonjourDiscovery::browsed(const std::string& name)
{
    BonjourBrowser browser;
    EventLog<std::string> added;
    browser.added.connect([&](const BonjourDevice& d) { added.add(d.serviceName); });
    browser.browse("_corvane._tcp");
    return added.waitUntil([&](const std::vector<std::string>& v) {
        return std::find(v.begin(), v.end(), name) != v.end();
    });
}

void TestBonjourDiscovery::arrivesUpdatesOnceAndLeaves()
{
    BonjourDiscovery discovery(kTickMs);
    Reports reports(discovery);
    discovery.start("_corvane._tcp");
    QVERIFY(m_announcer.registerService("Disc One", {{"model", "nova"}, {"serial", "A1"}}));

    QVERIFY(reports.arrived.waitFor(1));
    const BonjourInfo arrived = reports.arrived.all().front();
    QCOMPARE(arrived.serviceName, std::string("Disc One"));
    QCOMPARE(arrived.serviceType, std::string("_corvane._tcp."));
    QCOMPARE(arrived.domain, std::string("local."));
    QCOMPARE(arrived.txt, (Txt{{"model", "nova"}, {"serial", "A1"}}));
    QVERIFY(!arrived.seen);
    // Identical answers on later ticks announce nothing.
    waitTicks(4);
    QCOMPARE(reports.updated.size(), size_t(0));

    QVERIFY(m_announcer.updateService("Disc One", {{"model", "nova"}, {"serial", "B2"}}));
    QVERIFY(reports.updated.waitFor(1));
    // Past the second in which the superseded record is still cached: no flip-flop.
    waitTicks(15);
    QCOMPARE(reports.updated.size(), size_t(1));
    const BonjourInfo updated = reports.updated.all().front();
    QCOMPARE(updated.txt, (Txt{{"model", "nova"}, {"serial", "B2"}}));
    QVERIFY(updated.seen);
    QCOMPARE(reports.arrived.size(), size_t(1));

    QVERIFY(m_announcer.unregisterService("Disc One"));
    QVERIFY(reports.removed.waitFor(1));
    const BonjourInfo removed = reports.removed.all().front();
    QCOMPARE(static_cast<const BonjourDevice&>(removed),
             static_cast<const BonjourDevice&>(arrived));
    QCOMPARE(removed.txt, updated.txt);
}

void TestBonjourDiscovery::emptyTxtRecordArrives()
{
    BonjourDiscovery discovery(kTickMs);
    Reports reports(discovery);
    discovery.start("_corvane._tcp");
    QVERIFY(m_announcer.registerService("Disc Empty", {}));
    QVERIFY(reports.arrived.waitUntil(
        [](const std::vector<BonjourInfo>& v) { return hasName(v, "Disc Empty"); }));
    for (const BonjourInfo& info : reports.arrived.all()) {
        if (info.serviceName == "Disc Empty")
            QVERIFY(info.txt.empty());
    }
    QVERIFY(m_announcer.unregisterService("Disc Empty"));
}

void TestBonjourDiscovery::removalBeforeFirstAnswer()
{
    BonjourCore::refuseStartsForTesting(BonjourCore::Query);
    BonjourDiscovery discovery(kTickMs);
    Reports reports(discovery);
    discovery.start("_corvane._tcp");
    QVERIFY(m_announcer.registerService("Disc Two", {{"model", "nova"}}));
    QVERIFY(browsed("Disc Two"));
    QVERIFY(m_announcer.unregisterService("Disc Two"));

    QVERIFY(reports.removed.waitUntil(
        [](const std::vector<BonjourInfo>& v) { return hasName(v, "Disc Two"); }));
    QVERIFY(!hasName(reports.arrived.all(), "Disc Two"));
    for (const BonjourInfo& info : reports.removed.all())
        QVERIFY(info.txt.empty());
}

void TestBonjourDiscovery::failedQueryStartIsRetried()
{
    BonjourCore::refuseStartsForTesting(BonjourCore::Query);
    BonjourDiscovery discovery(kTickMs);
    Reports reports(discovery);
    discovery.start("_corvane._tcp");
    QVERIFY(m_announcer.registerService("Disc Three", {{"model", "nova"}}));
    QVERIFY(browsed("Disc Three"));
    waitTicks(3);
    QCOMPARE(reports.arrived.size(), size_t(0));

    // The device is not lost: a later tick asks again.
    BonjourCore::refuseStartsForTesting(0);
    QVERIFY(reports.arrived.waitFor(1));
    QCOMPARE(reports.arrived.all().front().serviceName, std::string("Disc Three"));
    QVERIFY(m_announcer.unregisterService("Disc Three"));
}

PRIVATE_NETWORK_TEST_MAIN(TestBonjourDiscovery)

#include "tst_bonjourdiscovery.moc"
