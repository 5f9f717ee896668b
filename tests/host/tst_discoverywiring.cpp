#include "announcer.h"
#include "dnsmessagebuilder.h"
#include "framework/appbranding.h"
#include "host/addbyipaddresscontroller.h"
#include "host/bonjourservice.h"
#include "host/dialoglineedit.h"
#include "host/mainwindow.h"
#include "privatenetwork.h"
#include "stalledport.h"
#include "testfamily.h"
#include "testresponder.h"

#include "framework/cardpushbutton.h"

#include <QTcpServer>
#include <QtTest>

using Bytes = std::vector<unsigned char>;

namespace {

unsigned idOf(const Bytes& query)
{
    return query.size() >= 2 ? unsigned(query[0] << 8 | query[1]) : 0;
}

// The program's DNS-SD, noting each address look-up the window asks for and how it ended.
class LookupSpy : public BonjourService
{
public:
    struct Lookup
    {
        std::string hostName;
        uint16_t port = 0;
        QList<int> errors;
        qint64 tookMs = -1;
    };

    explicit LookupSpy(std::shared_ptr<BonjourService> real)
        : m_real(std::move(real))
        , m_lookups(std::make_shared<QList<Lookup>>())
    {
    }

    ServiceBrowser* browse(const QString& serviceName, QObject* parent) override
    {
        return m_real->browse(serviceName, parent);
    }
    void resolve(const BonjourInfo& info, ResolveCallback callback) override
    {
        m_real->resolve(info, std::move(callback));
    }
    void lookup(const std::string& hostName, LookupCallback callback, uint16_t port) override
    {
        const int index = m_lookups->size();
        m_lookups->append({hostName, port, {}, -1});
        QElapsedTimer started;
        started.start();
        // The record outlives the spy, should an answer come after it.
        m_real->lookup(
            hostName,
            [lookups = m_lookups, index, started, callback](int error, const std::string& address) {
                (*lookups)[index].errors.append(error);
                (*lookups)[index].tookMs = started.elapsed();
                callback(error, address);
            },
            port);
    }
    void query(const std::string& address, QueryCallback callback,
               const std::string& serviceType) override
    {
        m_real->query(address, std::move(callback), serviceType);
    }

    const QList<Lookup>& lookups() const { return *m_lookups; }

private:
    std::shared_ptr<BonjourService> m_real;
    std::shared_ptr<QList<Lookup>> m_lookups;
};

} // namespace

// The window on the program's own DNS-SD, with short time-outs, in a network of its own.
class TestDiscoveryWiring : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void addsADeviceThatAnswersItsAddress();
    void givesUpOnAnAddressThatNeverAnswers();
    void resolveOfAnUnknownInstanceTimesOut();
    void lookupOfAnUnknownHostTimesOut();
    void connectionCheckDecidesTheResolve_data();
    void connectionCheckDecidesTheResolve();

private:
    std::shared_ptr<LookupSpy> m_bonjour;
    // Started by the first test that needs it; empty failure once running.
    std::unique_ptr<Announcer> m_announcer;
    QString m_announcerFailure;
    MainWindow* m_window = nullptr;
    TestFamily* m_family = nullptr;
    BonjourTimeouts m_timeouts;
};

void TestDiscoveryWiring::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    AppBranding::instance().appName = QStringLiteral("PellworthTest-discoverywiring");
    m_timeouts.resolveMs = 300;
    m_timeouts.lookupMs = 200;
    m_timeouts.queryMs = 200;
}

void TestDiscoveryWiring::init()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    m_bonjour = std::make_shared<LookupSpy>(makeBonjourService(m_timeouts));
    MainWindow::Options options;
    options.bonjour = m_bonjour;
    options.warmUpWebEngine = false;
    m_window = new MainWindow(options);
    m_family = new TestFamily("A", m_window);
    m_family->setProperty("network", true);
    m_family->setProperty("serviceNames", QStringList{"_a._tcp"});
    m_family->setProperty("claim", QStringList{"added", "resolved"});
    m_window->addFamily(m_family);
    m_window->show();
    QTRY_VERIFY(m_window->isStarted());
    m_family->clearCalls();
}

void TestDiscoveryWiring::cleanup()
{
    delete m_window;
    m_window = nullptr;
    m_bonjour.reset();
}

void TestDiscoveryWiring::addsADeviceThatAnswersItsAddress()
{
    TestResponder responder("127.0.0.23", [](const Bytes& query) {
        ReplyShape shape;
        shape.id = idOf(query);
        return buildReply(shape);
    });
    QVERIFY(responder.isBound());
    AddByIpAddressController* controller = m_window->addByIpController();
    controller->showDialog();
    controller->dialog()->lineEdit()->setText("127.0.0.23");
    controller->dialog()->addButton()->click();
    QTRY_VERIFY(m_family->calls().contains("added:Studio Deck"));
    QVERIFY(!controller->dialog()->isVisible());
    QCOMPARE(responder.queries().size(), size_t(1));
}

void TestDiscoveryWiring::givesUpOnAnAddressThatNeverAnswers()
{
    TestResponder responder("127.0.0.24", {});
    QVERIFY(responder.isBound());
    AddByIpAddressController* controller = m_window->addByIpController();
    controller->showDialog();
    controller->dialog()->lineEdit()->setText("127.0.0.24");
    QElapsedTimer elapsed;
    elapsed.start();
    controller->dialog()->addButton()->click();
    // The default type, then the family's one name, each given its time.
    QTRY_COMPARE(controller->dialog()->state(), 2);
    // Qt's coarse timers may fire up to 5% early.
    QVERIFY(elapsed.elapsed() >= 2 * m_timeouts.queryMs * 95 / 100);
    QVERIFY(responder.waitForQueries(2));
    QVERIFY(m_family->calls().isEmpty());
}

void TestDiscoveryWiring::resolveOfAnUnknownInstanceTimesOut()
{
    BonjourInfo info;
    info.serviceName = "Nobody";
    info.serviceType = "_corvane._tcp.";
    info.domain = "local.";
    QElapsedTimer elapsed;
    elapsed.start();
    Q_EMIT m_family->bonjourResolveRequested(info, {});
    QTRY_COMPARE(m_family->calls(), QStringList{"resolved:Nobody:failed:::0"});
    // Qt's coarse timers may fire up to 5% early.
    QVERIFY(elapsed.elapsed() >= m_timeouts.resolveMs * 95 / 100);
    QVERIFY(elapsed.elapsed() < 5000);
}

void TestDiscoveryWiring::lookupOfAnUnknownHostTimesOut()
{
    int error = 1;
    QElapsedTimer elapsed;
    elapsed.start();
    m_bonjour->lookup(
        "nowhere.local.", [&](int e, const std::string&) { error = e; }, 0);
    QTRY_COMPARE(error, -65568);
    // Qt's coarse timers may fire up to 5% early.
    QVERIFY(elapsed.elapsed() >= m_timeouts.lookupMs * 95 / 100);
    QVERIFY(elapsed.elapsed() < 1000);
}

void TestDiscoveryWiring::connectionCheckDecidesTheResolve_data()
{
    QTest::addColumn<QString>("name");
    // What answers on the port the family asks for, and on the announced one; an asked
    // "none" keeps the announced port.
    QTest::addColumn<QString>("askedPort");
    QTest::addColumn<QString>("announcedPort");
    QTest::addColumn<bool>("ok");
    QTest::newRow("announced port open") << "Open Port"
                                         << "none"
                                         << "open" << true;
    QTest::newRow("announced port never answers") << "Stalled Port"
                                                  << "none"
                                                  << "stalled" << false;
    QTest::newRow("asked port never answers") << "Asked Port"
                                              << "stalled"
                                              << "open" << false;
}

void TestDiscoveryWiring::connectionCheckDecidesTheResolve()
{
    QFETCH(QString, name);
    QFETCH(QString, askedPort);
    QFETCH(QString, announcedPort);
    QFETCH(bool, ok);
    if (!m_announcer) {
        m_announcer = std::make_unique<Announcer>();
        m_announcerFailure = m_announcer->start();
    }
    if (!m_announcerFailure.isEmpty())
        SKIP_OR_FAIL_IN_CI(m_announcerFailure);
    QTcpServer open;
    QVERIFY(open.listen(QHostAddress::LocalHost));
    StalledPort stalled;
    QVERIFY2(stalled.isStalled(), "every connect to the full listener completed");
    auto portOf = [&](const QString& kind) {
        return int(kind == "open" ? open.serverPort() : kind == "stalled" ? stalled.port() : 0);
    };
    // A type the window does not browse, so only the asked resolve touches it.
    QVERIFY(
        m_announcer->registerService(name, {}, portOf(announcedPort), "stallhost", "_stall._tcp"));

    BonjourInfo info;
    info.serviceName = name.toStdString();
    info.serviceType = "_stall._tcp.";
    info.domain = "local.";
    if (askedPort == "none")
        Q_EMIT m_family->bonjourResolveRequested(info, {});
    else
        Q_EMIT m_family->bonjourResolveRequestedWithPort(info, portOf(askedPort), {});
    QTRY_COMPARE_WITH_TIMEOUT(m_family->calls().size(), 1, 5000);

    const int checked = portOf(askedPort == "none" ? announcedPort : askedPort);
    const QString expected =
        ok ? QStringLiteral("resolved:%1:ok:stallhost.local.:127.0.0.1:%2").arg(name).arg(checked)
           : QStringLiteral("resolved:%1:failed:::0").arg(name);
    QCOMPARE(m_family->calls(), QStringList{expected});
    QCOMPARE(m_bonjour->lookups().size(), 1);
    const LookupSpy::Lookup lookup = m_bonjour->lookups().front();
    QCOMPARE(lookup.hostName, std::string("stallhost.local."));
    QCOMPARE(lookup.port, uint16_t(checked));
    QCOMPARE(lookup.errors, QList<int>{ok ? 0 : -65568});
    if (!ok) {
        // Given up by the shortened check: not at once, and well before the default second (a
        // coarse timer may fire up to 5% early).
        QVERIFY2(lookup.tookMs >= m_timeouts.lookupMs * 19 / 20,
                 qPrintable(QString::number(lookup.tookMs)));
        QVERIFY2(lookup.tookMs < 900, qPrintable(QString::number(lookup.tookMs)));
    }
    // Nothing more arrives once the check has been decided.
    QTest::qWait(2 * m_timeouts.lookupMs);
    QCOMPARE(m_family->calls().size(), 1);
    QCOMPARE(m_bonjour->lookups().front().errors.size(), 1);
}

PRIVATE_NETWORK_TEST_MAIN_WITH(QApplication, TestDiscoveryWiring)

#include "tst_discoverywiring.moc"
