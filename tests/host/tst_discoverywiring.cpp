#include "dnsmessagebuilder.h"
#include "framework/appbranding.h"
#include "host/addbyipaddresscontroller.h"
#include "host/bonjourservice.h"
#include "host/dialoglineedit.h"
#include "host/mainwindow.h"
#include "privatenetwork.h"
#include "testfamily.h"
#include "testresponder.h"

#include "framework/cardpushbutton.h"

#include <QtTest>

using Bytes = std::vector<unsigned char>;

namespace {

unsigned idOf(const Bytes& query)
{
    return query.size() >= 2 ? unsigned(query[0] << 8 | query[1]) : 0;
}

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

private:
    std::shared_ptr<BonjourService> m_bonjour;
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
    m_bonjour = makeBonjourService(m_timeouts);
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
    QVERIFY(elapsed.elapsed() >= 2 * m_timeouts.queryMs);
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
    QVERIFY(elapsed.elapsed() >= m_timeouts.resolveMs);
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
    QVERIFY(elapsed.elapsed() >= m_timeouts.lookupMs);
    QVERIFY(elapsed.elapsed() < 1000);
}

int main(int argc, char* argv[])
{
    // Before any thread starts: the whole process moves into a network of its own.
    PrivateNetwork::enter();
    QApplication app(argc, argv);
    TestDiscoveryWiring test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_discoverywiring.moc"
