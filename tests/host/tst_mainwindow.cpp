#include "fakebonjourservice.h"
#include "framework/appbranding.h"
#include "host/addbyipaddresscontroller.h"
#include "host/addbyipaddressdialog.h"
#include "host/footerleftregion.h"
#include "host/mainwindow.h"
#include "host/windowfooter.h"
#include "platform/recipient.h"
#include "testfamily.h"

#include <QtTest>

namespace {

BonjourInfo record(const std::string& name, const std::string& host = std::string(),
                   uint16_t port = 0)
{
    BonjourInfo info;
    info.serviceName = name;
    info.serviceType = "_corvane._tcp.";
    info.domain = "local.";
    info.hostName = host;
    info.port = port;
    return info;
}

// A card a family puts on the window for one of its devices; going away, it still talks to
// both, as cards do.
class FamilyCard : public QFrame
{
public:
    FamilyCard(TestFamily* family, TestDevice* device, QWidget* window)
        : QFrame(window)
        , m_family(family)
        , m_device(device)
    {
    }
    ~FamilyCard() override
    {
        if (TestFamily::journal)
            TestFamily::journal->append(m_family ? QStringLiteral("card:") + m_family->name() +
                                                       QLatin1Char(':') + m_device->productName()
                                                 : QStringLiteral("card:family gone"));
    }

private:
    QPointer<TestFamily> m_family;
    TestDevice* m_device;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void familiesStartOnceAfterTheWindowRuns();
    void browsesOncePerDistinctServiceName();
    void withoutNetworkFamiliesNothingIsBrowsed();
    void discoveryEventsGoToTheFirstFamilyThatTakesThem_data();
    void discoveryEventsGoToTheFirstFamilyThatTakesThem();
    void resolveChain_data();
    void resolveChain();
    void knownHostIsAskedForEachServiceNameInTurn();
    void knownHostWithoutServiceNames_data();
    void knownHostWithoutServiceNames();
    void deviceChangeMessagesGoToTheFirstFamilyThatTakesThem();
    void crossMenuActsThroughTheFirstEntryOfItsText();
    void closingAsksFamiliesInOrderAndStopsAtTheFirstRefusal();
    void deviceActionsReachTheOwningFamilyOnly();
    void destructionStopsEveryFamilyInLoadOrder();
    void cardsGoBeforeTheirFamilies();

private:
    MainWindow* makeWindow();
    TestFamily* addFamily(const QString& name, const QVariantMap& properties = {});
    void run();

    std::shared_ptr<FakeBonjourService> m_bonjour;
    MainWindow* m_window = nullptr;
    QList<TestFamily*> m_families;
    QStringList m_journal;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    AppBranding::instance().appName = QStringLiteral("PellworthTest-mainwindow");
    registerBonjourRecordTypes();
}

void TestMainWindow::init()
{
    // The branding flags are only ever switched on; every case starts from a fresh record.
    AppBranding::instance().networkDiscovery = false;
    AppBranding::instance().hasCustomPage = false;
    QSettings(AppBranding::companyName(), AppBranding::appName()).clear();
    m_bonjour = std::make_shared<FakeBonjourService>();
    m_journal.clear();
    TestFamily::journal = &m_journal;
    m_window = makeWindow();
    m_families.clear();
}

void TestMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    TestFamily::journal = nullptr;
}

MainWindow* TestMainWindow::makeWindow()
{
    MainWindow::Options options;
    options.bonjour = m_bonjour;
    options.warmUpWebEngine = false;
    return new MainWindow(options);
}

TestFamily* TestMainWindow::addFamily(const QString& name, const QVariantMap& properties)
{
    auto* family = new TestFamily(name, m_window);
    for (auto it = properties.begin(); it != properties.end(); ++it)
        family->setProperty(it.key().toLatin1().constData(), it.value());
    m_window->addFamily(family);
    m_families.append(family);
    return family;
}

void TestMainWindow::run()
{
    m_window->show();
    QTRY_VERIFY(m_window->isStarted());
    m_journal.clear();
}

void TestMainWindow::familiesStartOnceAfterTheWindowRuns()
{
    addFamily("A");
    addFamily("B");
    QVERIFY(m_journal.isEmpty());
    m_window->show();
    QTRY_VERIFY(m_window->isStarted());
    QCOMPARE(m_journal, (QStringList{"A:startDiscovery", "B:startDiscovery"}));
    QMetaObject::invokeMethod(m_window, "postShowStartup");
    QCOMPARE(m_journal.size(), 2);
    QVERIFY(m_window->footer());
}

void TestMainWindow::browsesOncePerDistinctServiceName()
{
    addFamily("A", {{"network", true}, {"serviceNames", QStringList{"_a._tcp"}}});
    addFamily("B", {{"network", false}, {"serviceNames", QStringList{"_a._tcp", "_b._tcp"}}});
    run();
    QStringList names;
    for (const auto& browse : m_bonjour->browses)
        names.append(browse.name);
    names.sort();
    QCOMPARE(names, (QStringList{"", "_a._tcp", "_b._tcp"}));
    QCOMPARE(m_window->crossMenuTexts().value(0), QStringLiteral("Add by IP address"));
}

void TestMainWindow::withoutNetworkFamiliesNothingIsBrowsed()
{
    addFamily("A", {{"serviceNames", QStringList{"_a._tcp"}}, {"crossOptions", QStringList{"X"}}});
    run();
    QVERIFY(m_bonjour->browses.isEmpty());
    QCOMPARE(m_window->crossMenuTexts(), QStringList{"X"});
}

void TestMainWindow::discoveryEventsGoToTheFirstFamilyThatTakesThem_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("claims");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("arrival, second takes it")
        << "added" << QStringList{"", "added", "added"} << QStringList{"A:added:r", "B:added:r"};
    QTest::newRow("removal, nobody takes it")
        << "removed" << QStringList{"", "", ""}
        << QStringList{"A:removed:r", "B:removed:r", "C:removed:r"};
    QTest::newRow("update, first takes it")
        << "updated" << QStringList{"updated", "updated", ""} << QStringList{"A:updated:r"};
}

void TestMainWindow::discoveryEventsGoToTheFirstFamilyThatTakesThem()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, claims);
    QFETCH(QStringList, expected);

    const QStringList names{"A", "B", "C"};
    for (int i = 0; i < names.size(); ++i)
        addFamily(names[i], {{"network", true}, {"claim", QStringList{claims[i]}}});
    run();
    QCOMPARE(m_bonjour->browses.size(), 1);
    ServiceBrowser* browser = m_bonjour->browses.first().browser;
    const BonjourInfo info = record("r");
    if (kind == "added")
        Q_EMIT browser->deviceArrived(info);
    else if (kind == "removed")
        Q_EMIT browser->deviceRemoved(info);
    else
        Q_EMIT browser->deviceUpdated(info);
    QCOMPARE(m_journal, expected);
}

void TestMainWindow::resolveChain_data()
{
    QTest::addColumn<int>("askedPort");
    QTest::addColumn<int>("resolveError");
    QTest::addColumn<int>("lookupError");
    QTest::addColumn<int>("lookedUpPort");
    QTest::addColumn<QString>("expected");

    // Without a port asked for, the resolved one is looked up and reported.
    QTest::newRow("resolved and looked up")
        << -1 << 0 << 0 << 80 << "resolved:r:ok:r.local.:10.0.0.7:80";
    QTest::newRow("port asked for")
        << 9000 << 0 << 0 << 9000 << "resolved:r:ok:r.local.:10.0.0.7:9000";
    QTest::newRow("resolve fails") << -1 << -65568 << 0 << -1 << "resolved:r:failed:::0";
    QTest::newRow("lookup fails") << 9000 << 0 << -65568 << 9000 << "resolved:r:failed:::0";
}

void TestMainWindow::resolveChain()
{
    QFETCH(int, askedPort);
    QFETCH(int, resolveError);
    QFETCH(int, lookupError);
    QFETCH(int, lookedUpPort);
    QFETCH(QString, expected);

    TestFamily* a = addFamily("A", {{"network", true}});
    TestFamily* b = addFamily("B", {{"network", true}, {"claim", QStringList{"resolved"}}});
    addFamily("C", {{"network", true}, {"claim", QStringList{"resolved"}}});
    run();

    if (askedPort < 0)
        Q_EMIT b->bonjourResolveRequested(record("r"), {});
    else
        Q_EMIT b->bonjourResolveRequestedWithPort(record("r"), askedPort, {});
    QCOMPARE(m_bonjour->resolves.size(), 1);
    QCOMPARE(m_bonjour->resolves[0].info.serviceName, std::string("r"));
    m_bonjour->resolves[0].callback(resolveError, resolveError ? "" : "r.local.",
                                    resolveError ? 0 : 80);
    if (lookedUpPort >= 0) {
        QCOMPARE(m_bonjour->lookups.size(), 1);
        QCOMPARE(m_bonjour->lookups[0].hostName, std::string("r.local."));
        QCOMPARE(int(m_bonjour->lookups[0].port), lookedUpPort);
        m_bonjour->lookups[0].callback(lookupError, lookupError ? "" : "10.0.0.7");
    } else {
        QVERIFY(m_bonjour->lookups.isEmpty());
    }
    // Offered in load order until one takes it.
    QCOMPARE(m_journal, (QStringList{"A:" + expected, "B:" + expected}));
    Q_UNUSED(a);
}

void TestMainWindow::knownHostIsAskedForEachServiceNameInTurn()
{
    TestFamily* a = addFamily("A", {{"network", true}, {"claim", QStringList{"resolved"}}});
    run();
    Q_EMIT a->bonjourResolveRequested(record("r", "192.168.7.9", 4242),
                                      QSet<QString>{"_a._tcp", "_b._tcp"});
    QVERIFY(m_bonjour->resolves.isEmpty());
    QStringList types;
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(m_bonjour->queries.size(), i + 1);
        QCOMPARE(m_bonjour->queries[i].address, std::string("192.168.7.9"));
        types.append(QString::fromStdString(m_bonjour->queries[i].serviceType));
        QVERIFY(m_journal.isEmpty());
        m_bonjour->queries[i].callback(false, BonjourInfo());
    }
    types.sort();
    QCOMPARE(types, (QStringList{"_a._tcp.local", "_b._tcp.local"}));
    QCOMPARE(m_bonjour->queries.size(), 2);
    QCOMPARE(m_journal, QStringList{"A:resolved:r:failed::192.168.7.9:4242"});
}

void TestMainWindow::knownHostWithoutServiceNames_data()
{
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("expected");
    QTest::newRow("answered") << true << "A:resolved:found:ok::192.168.7.9:8080";
    // The failure names the record that asked, not whatever the query held.
    QTest::newRow("unanswered") << false << "A:resolved:r:failed::192.168.7.9:4242";
}

void TestMainWindow::knownHostWithoutServiceNames()
{
    QFETCH(bool, complete);
    QFETCH(QString, expected);
    TestFamily* a = addFamily("A", {{"network", true}, {"claim", QStringList{"resolved"}}});
    run();
    Q_EMIT a->bonjourResolveRequestedWithPort(record("r", "192.168.7.9", 4242), 99, {});
    QCOMPARE(m_bonjour->queries.size(), 1);
    QCOMPARE(m_bonjour->queries[0].serviceType, std::string());
    m_bonjour->queries[0].callback(complete, complete ? record("found", "", 8080) : BonjourInfo());
    QCOMPARE(m_journal, QStringList{expected});
}

void TestMainWindow::deviceChangeMessagesGoToTheFirstFamilyThatTakesThem()
{
    addFamily("A");
    addFamily("B", {{"claim", QStringList{"native"}}});
    addFamily("C", {{"claim", QStringList{"native"}}});
    run();

    Platform::Message message;
    message.message = Platform::kWmDeviceChange;
    message.wParam = Platform::kDbtDeviceRemoveComplete;
    intptr_t result = 0;
    QVERIFY(m_window->handleNativeMessage(&message, &result));
    QCOMPARE(result, intptr_t(1));
    QCOMPARE(m_journal, (QStringList{"A:native:8004", "B:native:8004"}));

    // Other messages are not the families' business.
    m_journal.clear();
    message.message = 0x0112;
    result = 0;
    QVERIFY(!m_window->handleNativeMessage(&message, &result));
    QCOMPARE(result, intptr_t(0));
    QVERIFY(m_journal.isEmpty());

    // Registered against the window, a message arrives later on the GUI thread.
    message.message = Platform::kWmDeviceChange;
    message.wParam = Platform::kDbtDeviceArrival;
    QVERIFY(m_window->notificationRecipient()->postMessage(message));
    QVERIFY(m_journal.isEmpty());
    QTRY_COMPARE(m_journal, (QStringList{"A:native:8000", "B:native:8000"}));
}

void TestMainWindow::crossMenuActsThroughTheFirstEntryOfItsText()
{
    addFamily("A", {{"crossOptions", QStringList{"Shared", "Only A"}}});
    TestFamily* b =
        addFamily("B", {{"network", true}, {"crossOptions", QStringList{"Shared", "Only B"}}});
    run();
    QCOMPARE(m_window->crossMenuTexts(),
             (QStringList{"Add by IP address", "Shared", "Only A", "Shared", "Only B"}));
    QCOMPARE(m_window->footer()->leftRegion()->options(), m_window->crossMenuTexts());

    Q_EMIT m_window->footer()->crossMenuOptionSelected("Shared");
    Q_EMIT m_window->footer()->crossMenuOptionSelected("Only B");
    QCOMPARE(m_journal, (QStringList{"A:option:Shared", "B:option:Only B"}));

    Q_EMIT m_window->footer()->crossMenuOptionSelected("Add by IP address");
    QVERIFY(m_window->addByIpController()->dialog());
    QVERIFY(m_window->addByIpController()->dialog()->isVisible());

    // A family that changes its offer is asked again.
    b->setProperty("crossOptions", QStringList{"Later"});
    Q_EMIT b->crossMenuChanged();
    QCOMPARE(m_window->crossMenuTexts(),
             (QStringList{"Add by IP address", "Shared", "Only A", "Later"}));
}

void TestMainWindow::closingAsksFamiliesInOrderAndStopsAtTheFirstRefusal()
{
    addFamily("A");
    TestFamily* b = addFamily("B", {{"canClose", false}});
    addFamily("C");
    run();
    QSettings settings(AppBranding::companyName(), AppBranding::appName());

    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_journal, (QStringList{"A:canClose", "B:canClose"}));
    QVERIFY(!settings.contains("geometry"));

    b->setProperty("canClose", true);
    QVERIFY(m_window->close());
    settings.sync();
    QVERIFY(!settings.value("geometry").toByteArray().isEmpty());

    // The next window comes back where this one was.
    m_window->move(40, 30);
    const QByteArray saved = m_window->saveGeometry();
    settings.setValue("geometry", saved);
    settings.sync();
    std::unique_ptr<MainWindow> next(makeWindow());
    QCOMPARE(next->geometry(), m_window->geometry());
}

void TestMainWindow::deviceActionsReachTheOwningFamilyOnly()
{
    TestFamily* a = addFamily("A");
    TestFamily* b = addFamily("B");
    run();
    a->addDevice("First");
    TestDevice* second = b->addDevice("Second");
    m_journal.clear();

    QMetaObject::invokeMethod(m_window, "showDevice", Q_ARG(VisibleDevice*, second));
    QMetaObject::invokeMethod(m_window, "showControlApp", Q_ARG(VisibleDevice*, second));
    QMetaObject::invokeMethod(m_window, "updateFirmware", Q_ARG(VisibleDevice*, second));
    QMetaObject::invokeMethod(m_window, "showDevice", Q_ARG(VisibleDevice*, nullptr));
    QCOMPARE(m_journal, (QStringList{"B:showDevice:Second", "B:showControlApp:Second",
                                     "B:updateFirmware:Second"}));

    // The selection tells each family which of its devices is current.
    m_window->deviceList()->select(m_window->deviceList()->indexOf(second));
    QCOMPARE(b->currentDevice(), second);
    QCOMPARE(a->currentDevice(), nullptr);
}

void TestMainWindow::destructionStopsEveryFamilyInLoadOrder()
{
    addFamily("A");
    addFamily("B");
    run();
    delete m_window;
    m_window = nullptr;
    QCOMPARE(m_journal, (QStringList{"A:stopDiscovery", "B:stopDiscovery"}));
}

void TestMainWindow::cardsGoBeforeTheirFamilies()
{
    TestFamily* a = addFamily("A");
    TestFamily* b = addFamily("B");
    run();
    new FamilyCard(a, a->addDevice("First"), m_window);
    new FamilyCard(b, b->addDevice("Second"), m_window);
    for (TestFamily* family : {a, b}) {
        const QString gone = family->name() + QStringLiteral(":destroyed");
        connect(family, &QObject::destroyed, this, [this, gone] { m_journal.append(gone); });
    }
    m_journal.clear();
    delete m_window;
    m_window = nullptr;
    QCOMPARE(m_journal, (QStringList{"A:stopDiscovery", "B:stopDiscovery", "card:B:Second",
                                     "card:A:First", "A:destroyed", "B:destroyed"}));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
