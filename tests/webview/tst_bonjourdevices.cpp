#include "groupingfamily.h"
#include "plugins/webview/bonjourpotentialdevice.h"
#include "plugins/webview/kestrelnovawebviewbonjourconnectionmanager.h"
#include "plugins/webview/kestrelnovawebviewbonjourpotentialdevice.h"
#include "sim/novarecorder/novabonjourrecords.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <stdexcept>

using namespace Sim::NovaBonjour;
using Txt = std::map<std::string, std::string>;

Q_DECLARE_METATYPE(Txt)

namespace {

using Manager = KestrelNovaWebViewBonjourConnectionManager;

std::shared_ptr<Manager> makeManager(GroupingFamily* family)
{
    return std::make_shared<Manager>(
        family, supportedProducts(), nullptr, nullptr,
        [](std::shared_ptr<BonjourConnectionManager> manager,
           const BonjourInfo& info) -> std::shared_ptr<BonjourPotentialDevice> {
            try {
                return std::make_shared<KestrelNovaWebViewBonjourPotentialDevice>(manager, info);
            } catch (const std::exception&) {
                return nullptr;
            }
        },
        nullptr);
}

std::shared_ptr<BonjourPotentialDevice> device(const Txt& txt)
{
    return std::make_shared<BonjourPotentialDevice>(nullptr, record("_http._tcp.", txt));
}

} // namespace

class TestBonjourDevices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerBonjourRecordTypes(); }

    void txtParsing_data();
    void txtParsing();
    void malformedNumberRejectsNewRecord_data();
    void malformedNumberRejectsNewRecord();
    void refreshKeepsWhatItCannotRead();
    void failedResolveOnUnknownInterfaceIsSilent();

    void supportedRecords_data();
    void supportedRecords();
    void secondRecordIsAbsorbed();
    void removalOnlyAfterEveryInterface();
    void failedResolveRetriedAfterASecond();
    void resolveAsksForWebServerPortOnCurrentRelease();
    void lookupByUniqueIdForUpdateTasks();
    void resolvedDeviceResolvesAgainThroughDnsSd();
    void lateResolveAnswerKeepsANewerTxt();
};

void TestBonjourDevices::txtParsing_data()
{
    QTest::addColumn<Txt>("txt");
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("hardwareRevision");
    QTest::addColumn<QString>("uniqueId");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("build");

    const Txt base{{"product id", "be1d"}, {"unique id", "AbC123"}};
    auto with = [&](Txt extra) {
        Txt txt = base;
        for (auto& entry : extra)
            txt[entry.first] = entry.second;
        return txt;
    };
    QTest::newRow("bare") << base << 0xBE1D << 0 << "abc123"
                          << "Kestrel Alder One"
                          << "";
    QTest::newRow("0x prefix") << with({{"product id", "0xBEAC"}}) << 0xBEAC << 0 << "abc123"
                               << "Kestrel Alder One"
                               << "";
    QTest::newRow("hw version is hexadecimal")
        << with({{"hw version", "100"}}) << 0xBE1D << 0x100 << "abc123"
        << "Kestrel Alder One"
        << "";
    QTest::newRow("device version is decimal")
        << with({{"device version", "256"}}) << 0xBE1D << 256 << "abc123"
        << "Kestrel Alder One"
        << "";
    QTest::newRow("hw version wins over device version")
        << with({{"hw version", "200"}, {"device version", "7"}}) << 0xBE1D << 0x200 << "abc123"
        << "Kestrel Alder One"
        << "";
    QTest::newRow("device name") << with({{"device name", "Stage Left"}}) << 0xBE1D << 0 << "abc123"
                                 << "Stage Left"
                                 << "";
    QTest::newRow("internal version lower-cased")
        << with({{"internal version", "8A4C1F02"}, {"sw version", "11111111"}}) << 0xBE1D << 0
        << "abc123"
        << "Kestrel Alder One"
        << "8a4c1f02";
    QTest::newRow("sw version when no internal version")
        << with({{"sw version", "DEADBEEF"}}) << 0xBE1D << 0 << "abc123"
        << "Kestrel Alder One"
        << "deadbeef";
}

void TestBonjourDevices::txtParsing()
{
    QFETCH(Txt, txt);
    const auto made = device(txt);
    QTEST(int(made->productId()), "productId");
    QTEST(int(made->hardwareRevision()), "hardwareRevision");
    QTEST(made->uniqueId(), "uniqueId");
    QTEST(made->name(), "name");
    QTEST(made->firmwareBuild(), "build");
    QCOMPARE(made->connectionType(), int(PotentialDevice::kEthernet));
    QCOMPARE(int(made->priority()), 20);
}

void TestBonjourDevices::malformedNumberRejectsNewRecord_data()
{
    QTest::addColumn<Txt>("txt");
    QTest::newRow("product id zz") << Txt{{"product id", "zz"}};
    QTest::newRow("product id over 16 bits") << Txt{{"product id", "1be1d"}};
    QTest::newRow("negative product id") << Txt{{"product id", "-1"}};
    QTest::newRow("hw version text") << Txt{{"product id", "be1d"}, {"hw version", "rev"}};
    QTest::newRow("device version too big")
        << Txt{{"product id", "be1d"}, {"device version", "99999999999999999999"}};
}

void TestBonjourDevices::malformedNumberRejectsNewRecord()
{
    QFETCH(Txt, txt);
    QVERIFY_THROWS_EXCEPTION(std::logic_error, device(txt));
}

void TestBonjourDevices::refreshKeepsWhatItCannotRead()
{
    const auto made = device(novaTxt("id1"));
    made->update(record("_http._tcp.", {{"product id", "nonsense"}, {"hw version", "zz"}}));
    QCOMPARE(int(made->productId()), 0xBE1D);
    QCOMPARE(int(made->hardwareRevision()), 0x100);
    QCOMPARE(made->uniqueId(), QString("id1"));
    QCOMPARE(made->name(), QString("Stage Left"));
    QCOMPARE(made->firmwareBuild(), QString("8a4c1f02"));
    QCOMPARE(made->releaseVersion(), QString("8.4"));

    made->update(record("_http._tcp.", {{"release version", "8.5"}}));
    QCOMPARE(made->releaseVersion(), QString("8.5"));
    QCOMPARE(made->name(), QString("Stage Left"));
}

void TestBonjourDevices::failedResolveOnUnknownInterfaceIsSilent()
{
    const auto made = device(novaTxt("id1"));
    QSignalSpy failed(made.get(), &BonjourPotentialDevice::failedToResolve);
    made->onResolved(http("id1", 7), false, {}, {}, 0);
    QCOMPARE(failed.count(), 0);
    made->onResolved(http("id1", 2), false, {}, {}, 0);
    QCOMPARE(failed.count(), 1);
}

void TestBonjourDevices::supportedRecords_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<bool>("supported");
    QTest::newRow("be1d") << "be1d" << true;
    QTest::newRow("0xbe1d") << "0xbe1d" << true;
    QTest::newRow("upper case") << "BE8D" << true;
    QTest::newRow("not in the table") << "c34c" << false;
    QTest::newRow("zz") << "zz" << false;
}

void TestBonjourDevices::supportedRecords()
{
    QFETCH(QString, productId);
    QFETCH(bool, supported);
    GroupingFamily family;
    const auto manager = makeManager(&family);
    Txt txt = novaTxt("id1");
    txt["product id"] = productId.toStdString();
    QCOMPARE(manager->deviceAdded(record("_http._tcp.", txt)), supported);
    QCOMPARE(manager->deviceUpdated(record("_http._tcp.", txt)), supported);
    QCOMPARE(manager->deviceRemoved(record("_http._tcp.", txt)), supported);
}

void TestBonjourDevices::secondRecordIsAbsorbed()
{
    GroupingFamily family;
    const auto manager = makeManager(&family);
    QSignalSpy resolves(&family, &Family::bonjourResolveRequestedWithPort);
    QVERIFY(manager->deviceAdded(http("id1")));
    QVERIFY(manager->deviceAdded(corvane("ID1", 3)));
    QCOMPARE(resolves.count(), 1);
    QVERIFY(manager->isPending("id1"));

    QVERIFY(manager->deviceResolved(http("id1"), true, "alder.local.", "127.0.0.5", 80));
    QVERIFY(manager->deviceResolved(corvane("id1", 3), true, "alder.local.", "127.0.0.5", 80));
    QCOMPARE(family.added, 1);
    QCOMPARE(family.visibleDevices.size(), size_t(1));
    QVERIFY(!manager->isPending("id1"));
}

void TestBonjourDevices::removalOnlyAfterEveryInterface()
{
    GroupingFamily family;
    const auto manager = makeManager(&family);
    BonjourInfo first = http("id1", 2);
    first.hostName = "alder.local.";
    QVERIFY(manager->deviceAdded(first));
    QVERIFY(manager->deviceAdded(http("id1", 3)));
    QCOMPARE(family.visibleDevices.size(), size_t(1));

    QVERIFY(manager->deviceRemoved(corvane("id1", 2)));
    QCOMPARE(family.removed, 0);
    QVERIFY(manager->deviceRemoved(http("id1", 3)));
    QCOMPARE(family.removed, 1);
    QVERIFY(family.visibleDevices.empty());
    QVERIFY(!manager->findKnownByUniqueId("id1"));
}

void TestBonjourDevices::failedResolveRetriedAfterASecond()
{
    GroupingFamily family;
    const auto manager = makeManager(&family);
    QSignalSpy resolves(&family, &Family::bonjourResolveRequestedWithPort);
    QVERIFY(manager->deviceAdded(http("id1")));
    QCOMPARE(resolves.count(), 1);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(manager->deviceResolved(http("id1"), false, {}, {}, 0));
    QVERIFY(resolves.wait(5000));
    QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(resolves.count(), 2);
    QCOMPARE(family.added, 0);

    // A device withdrawn meanwhile is not asked for again.
    QVERIFY(manager->deviceResolved(http("id1"), false, {}, {}, 0));
    QVERIFY(manager->deviceRemoved(http("id1")));
    QVERIFY(!resolves.wait(1500));

    QVERIFY(manager->deviceAdded(http("id1")));
    QVERIFY(manager->deviceResolved(http("id1"), true, "alder.local.", "127.0.0.5", 80));
    QVERIFY(manager->deviceResolved(http("id1"), true, "alder.local.", "127.0.0.5", 80));
    QCOMPARE(family.added, 1);
}

void TestBonjourDevices::resolveAsksForWebServerPortOnCurrentRelease()
{
    GroupingFamily family;
    const auto manager = makeManager(&family);
    QSignalSpy withPort(&family, &Family::bonjourResolveRequestedWithPort);
    QSignalSpy plain(&family, &Family::bonjourResolveRequested);
    QVERIFY(manager->deviceAdded(record("_http._tcp.", novaTxt("current", "8.4"))));
    QVERIFY(manager->deviceAdded(record("_corvane._tcp.", novaTxt("legacy", "8.3.2"))));
    QCOMPARE(withPort.count(), 1);
    QCOMPARE(withPort.at(0).at(1).toInt(), 80);
    QCOMPARE(withPort.at(0).at(2).value<QSet<QString>>(), family.serviceNames());
    QCOMPARE(plain.count(), 1);
    QCOMPARE(BonjourConnectionManager::uniqueIdOf(plain.at(0).at(0).value<BonjourInfo>()),
             QString("legacy"));
}

void TestBonjourDevices::lookupByUniqueIdForUpdateTasks()
{
    GroupingFamily family;
    const auto manager = makeManager(&family);
    QVERIFY(manager->deviceAdded(http("id1")));
    QVERIFY(!manager->findKnownByUniqueId("id1"));
    QVERIFY(manager->deviceResolved(http("id1"), true, "alder.local.", "127.0.0.5", 80));
    const auto known = manager->findKnownByUniqueId("id1");
    QVERIFY(known);
    QCOMPARE(family.visibleDevices.at(0)->primary(), std::shared_ptr<PotentialDevice>(known));
    QVERIFY(!manager->findKnownByUniqueId("ID1"));
}

// After a reboot the device is resolved again: its records must still be the browsed ones, or
// the host would take them for a device added by address and ask the host name on port 5353.
void TestBonjourDevices::resolvedDeviceResolvesAgainThroughDnsSd()
{
    GroupingFamily family;
    const auto manager = makeManager(&family);
    QSignalSpy resolves(&family, &Family::bonjourResolveRequestedWithPort);
    QVERIFY(manager->deviceAdded(http("id1")));
    QVERIFY(manager->deviceResolved(http("id1"), true, "alder.local.", "127.0.0.5", 80));
    const auto known = manager->findKnownByUniqueId("id1");
    QVERIFY(known);
    QSignalSpy answers(known.get(), &BonjourPotentialDevice::resolved);
    for (int round = 0; round < 2; ++round) {
        known->requestResolve();
        QCOMPARE(resolves.count(), 2 + round);
        const auto asked = resolves.last().at(0).value<BonjourInfo>();
        QCOMPARE(asked.hostName, std::string());
        QCOMPARE(asked.serviceType, std::string("_http._tcp."));
        QVERIFY(manager->deviceResolved(asked, true, "alder.local.", "127.0.0.5", 80));
        QCOMPARE(answers.count(), round + 1);
        const auto pairs = answers.last().at(0).value<AddressAndPortPairs>();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs.front().first, std::string("127.0.0.5"));
    }
}

void TestBonjourDevices::lateResolveAnswerKeepsANewerTxt()
{
    // A recorder back from an update announces its new release while a resolve asked with the
    // old record is still running; the answer must not bring the old release back.
    GroupingFamily family;
    const auto manager = makeManager(&family);
    QSignalSpy resolves(&family, &Family::bonjourResolveRequestedWithPort);
    const auto withRelease = [](const char* release) {
        BonjourInfo info = http("id1");
        info.txt["release version"] = release;
        return info;
    };
    QVERIFY(manager->deviceAdded(withRelease("8.4")));
    QVERIFY(manager->deviceResolved(withRelease("8.4"), true, "alder.local.", "127.0.0.5", 80));
    const auto known = manager->findKnownByUniqueId("id1");
    QVERIFY(known);
    known->requestResolve();
    const auto asked = resolves.last().at(0).value<BonjourInfo>();
    QVERIFY(manager->deviceUpdated(withRelease("8.5")));
    QCOMPARE(known->releaseVersion(), QStringLiteral("8.5"));
    QVERIFY(manager->deviceResolved(asked, true, "alder.local.", "127.0.0.5", 80));
    QCOMPARE(known->releaseVersion(), QStringLiteral("8.5"));
    // And the next resolve asks with the newer record.
    known->requestResolve();
    QCOMPARE(resolves.last().at(0).value<BonjourInfo>().txt.at("release version"),
             std::string("8.5"));
}

QTEST_MAIN(TestBonjourDevices)
#include "tst_bonjourdevices.moc"
