#include "privatenetwork.h"
#include "programcopy.h"

#include <QDirIterator>
#include <QtTest>

#include <unistd.h>

namespace {

// Whether a process whose parent is the given one runs under the given name.
bool hasChild(qint64 parent, const QByteArray& name)
{
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QFile stat(it.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces, so read from its last ')'.
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() > 1 && rest[1].toLongLong() == parent &&
            line.mid(open + 1, close - open - 1) == name)
            return true;
    }
    return false;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsAndClosesCleanly_data();
    void startsAndClosesCleanly();
    void startsWithoutTheSandboxVariable();
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
    QVERIFY(ProgramCopy::waitUntilItCatchesTermination(*p));
    // Still running after a moment: it did not fall over on start.
    QVERIFY(!p->waitForFinished(1500));

    // A request to stop closes the window like the user would.
    p->terminate();
    QVERIFY(p->waitForFinished(10000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
}

// As a user would start it: without the variable the tests set. As root, Chromium's sandbox
// cannot run, so the program turns it off itself and says so once; as anyone else it says
// nothing.
void TestStartup::startsWithoutTheSandboxVariable()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    QVERIFY(copy.isValid());
    QProcessEnvironment environment = copy.environment();
    environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.start(copy.program(), {});
    QVERIFY(program.waitForStarted(5000));

    // The web engine is up once its helper process runs; a refused start ends the program.
    QTRY_VERIFY_WITH_TIMEOUT(program.state() == QProcess::NotRunning ||
                                 hasChild(program.processId(), "QtWebEngineProc"),
                             30000);
    QByteArray log = program.readAllStandardError();
    QVERIFY2(program.state() == QProcess::Running, log.constData());

    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    log += program.readAllStandardError();
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
             log.constData());
    QCOMPARE(log.count("sandbox is turned off"), ::geteuid() == 0 ? 1 : 0);
}

PRIVATE_NETWORK_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
