#include "privatenetwork.h"
#include "programcopy.h"

#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsAndClosesCleanly_data();
    void startsAndClosesCleanly();
};

void TestStartup::startsAndClosesCleanly_data()
{
    QTest::addColumn<QString>("plugins");
    QTest::newRow("a family") << ProgramCopy::pluginFolder("demo");
    // No family: the bad-install dialog covers the window, and the program still stops cleanly.
    QTest::newRow("bad install") << ProgramCopy::pluginFolder("failingonly");
}

void TestStartup::startsAndClosesCleanly()
{
    // The program's families browse the network: only ever inside a network of our own.
    SKIP_WITHOUT_PRIVATE_NETWORK();
    QFETCH(QString, plugins);
    ProgramCopy copy(plugins);
    QVERIFY(copy.isValid());

    QProcess* p = copy.start(this);
    QVERIFY(p->waitForStarted(5000));
    // Still running after a moment: it did not fall over on start.
    QVERIFY(!p->waitForFinished(1500));

    // A request to stop closes the window like the user would.
    p->terminate();
    QVERIFY(p->waitForFinished(10000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
}

PRIVATE_NETWORK_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
