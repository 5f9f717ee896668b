#include "fakebonjourservice.h"
#include "framework/appbranding.h"
#include "framework/cardpushbutton.h"
#include "host/addbyipaddresscontroller.h"
#include "host/addbyipaddressdialog.h"
#include "host/dialoglineedit.h"
#include "testfamily.h"

#include <QtTest>

namespace {

BonjourInfo found(const std::string& name)
{
    BonjourInfo info;
    info.serviceName = name;
    info.serviceType = "_corvane._tcp.";
    info.domain = ".";
    info.hostName = "127.0.0.9";
    return info;
}

} // namespace

class TestAddByIp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void answerToTheDefaultTypeAddsAtOnce();
    void eachDeclaredNameIsAskedOnceThenItFails();
    void returnKey_data();
    void returnKey();
    void cancelledChainStillAddsButAsksNoMore();
    void replacedChainLeavesTheNewOneAlone();
    void malformedAddressCannotBeAdded();
    void leadingZerosAreAskedAsPlainDecimal();

private:
    void addFamily(const QStringList& serviceNames);
    void add(const QString& address);

    QWidget* m_window = nullptr;
    FakeBonjourService m_bonjour;
    QList<Family*> m_families;
    AddByIpAddressController* m_controller = nullptr;
    QList<BonjourInfo> m_added;
};

void TestAddByIp::initTestCase()
{
    registerBonjourRecordTypes();
}

void TestAddByIp::init()
{
    m_window = new QWidget;
    m_window->resize(780, 700);
    m_window->show();
    m_bonjour = FakeBonjourService();
    m_added.clear();
    m_families.clear();
    m_controller = new AddByIpAddressController(m_window, &m_families, &m_bonjour);
    connect(m_controller, &AddByIpAddressController::deviceAddedByIP, this,
            [this](BonjourInfo info) { m_added.append(info); });
}

void TestAddByIp::cleanup()
{
    delete m_window;
}

void TestAddByIp::addFamily(const QStringList& serviceNames)
{
    auto* family = new TestFamily("F", nullptr);
    family->setParent(m_window);
    family->setProperty("serviceNames", serviceNames);
    m_families.append(family);
}

void TestAddByIp::add(const QString& address)
{
    m_controller->showDialog();
    AddByIpAddressDialog* dialog = m_controller->dialog();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->state(), 0);
    dialog->lineEdit()->setText(address);
    dialog->addButton()->click();
    QCOMPARE(dialog->state(), 1);
}

void TestAddByIp::answerToTheDefaultTypeAddsAtOnce()
{
    addFamily({"_a._tcp"});
    add("127.0.0.9");
    QCOMPARE(m_bonjour.queries.size(), 1);
    QCOMPARE(m_bonjour.queries[0].address, std::string("127.0.0.9"));
    QCOMPARE(m_bonjour.queries[0].serviceType, std::string());
    m_bonjour.queries[0].callback(true, found("Studio"));
    QCOMPARE(m_added.size(), 1);
    QCOMPARE(m_added[0].serviceName, std::string("Studio"));
    QCOMPARE(m_bonjour.queries.size(), 1);
    QVERIFY(!m_controller->dialog()->isVisible());
    QCOMPARE(m_controller->dialog()->state(), 0);
}

void TestAddByIp::eachDeclaredNameIsAskedOnceThenItFails()
{
    addFamily({"_a._tcp", "_b._tcp"});
    addFamily({"_b._tcp"});
    add("10.1.2.3");
    QStringList asked;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(m_bonjour.queries.size(), i + 1);
        asked.append(QString::fromStdString(m_bonjour.queries[i].serviceType));
        QCOMPARE(m_controller->dialog()->state(), 1);
        m_bonjour.queries[i].callback(false, BonjourInfo());
    }
    QCOMPARE(asked.takeFirst(), QString());
    asked.sort();
    QCOMPARE(asked, (QStringList{"_a._tcp.local", "_b._tcp.local"}));
    QCOMPARE(m_bonjour.queries.size(), 3);
    QCOMPARE(m_controller->dialog()->state(), 2);
    QVERIFY(m_controller->dialog()->isVisible());
    QVERIFY(m_added.isEmpty());
}

void TestAddByIp::returnKey_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("visibleAfter");
    QTest::addColumn<int>("questions");
    QTest::newRow("input with a good address adds") << 0 << true << 1;
    QTest::newRow("checking does nothing") << 1 << true << 1;
    QTest::newRow("failed closes") << 2 << false << 1;
}

void TestAddByIp::returnKey()
{
    QFETCH(int, state);
    QFETCH(bool, visibleAfter);
    QFETCH(int, questions);
    m_controller->showDialog();
    AddByIpAddressDialog* dialog = m_controller->dialog();
    dialog->lineEdit()->setText("10.0.0.1");
    if (state >= 1)
        dialog->addButton()->click();
    if (state == 2)
        m_bonjour.queries[0].callback(false, BonjourInfo());
    QCOMPARE(dialog->state(), state);
    QTest::keyClick(dialog->lineEdit(), Qt::Key_Return);
    QCOMPARE(dialog->isVisible(), visibleAfter);
    QCOMPARE(m_bonjour.queries.size(), questions);
}

// Mended: the answers of a chain the user cancelled may still add the device, but never ask
// further names or change the dialog as it is now.
void TestAddByIp::cancelledChainStillAddsButAsksNoMore()
{
    addFamily({"_a._tcp"});

    add("10.0.0.1");
    m_controller->dialog()->cancelButton()->click();
    QVERIFY(!m_controller->dialog()->isVisible());
    m_bonjour.queries[0].callback(false, BonjourInfo());
    QCOMPARE(m_bonjour.queries.size(), 1);

    add("10.0.0.2");
    QCOMPARE(m_bonjour.queries.size(), 2);
    m_controller->dialog()->closeButton()->click();
    m_controller->showDialog();
    m_bonjour.queries[1].callback(true, found("Late"));
    QCOMPARE(m_added.size(), 1);
    QCOMPARE(m_added[0].serviceName, std::string("Late"));
    // The reopened dialog is left as the user has it.
    QVERIFY(m_controller->dialog()->isVisible());
    QCOMPARE(m_controller->dialog()->state(), 0);
}

void TestAddByIp::replacedChainLeavesTheNewOneAlone()
{
    add("10.0.0.1");
    m_controller->dialog()->cancelButton()->click();
    add("10.0.0.2");
    // The old chain's failure neither fails the new one nor asks anything.
    m_bonjour.queries[0].callback(false, BonjourInfo());
    QCOMPARE(m_controller->dialog()->state(), 1);
    QCOMPARE(m_bonjour.queries.size(), 2);
    m_bonjour.queries[1].callback(false, BonjourInfo());
    QCOMPARE(m_controller->dialog()->state(), 2);
}

void TestAddByIp::malformedAddressCannotBeAdded()
{
    m_controller->showDialog();
    AddByIpAddressDialog* dialog = m_controller->dialog();
    QCOMPARE(dialog->address(), QStringLiteral("0.0.0.0"));
    QVERIFY(dialog->addButton()->isEnabled());
    dialog->lineEdit()->setText("10.0.");
    QVERIFY(!dialog->isAcceptable());
    QVERIFY(!dialog->addButton()->isEnabled());
    QTest::keyClick(dialog->lineEdit(), Qt::Key_Return);
    QCOMPARE(dialog->state(), 0);
    QVERIFY(m_bonjour.queries.isEmpty());
}

// The field accepts "001"; what is asked must never read it as octal.
void TestAddByIp::leadingZerosAreAskedAsPlainDecimal()
{
    add("192.168.001.020");
    QCOMPARE(m_bonjour.queries.size(), 1);
    QCOMPARE(m_bonjour.queries[0].address, std::string("192.168.1.20"));
    add("010.000.000.009");
    QCOMPARE(m_bonjour.queries.size(), 2);
    QCOMPARE(m_bonjour.queries[1].address, std::string("10.0.0.9"));
}

QTEST_MAIN(TestAddByIp)
#include "tst_addbyip.moc"
