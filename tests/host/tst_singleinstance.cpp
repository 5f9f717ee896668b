#include "host/singleapplication.h"
#include "privatenetwork.h"
#include "programcopy.h"

#include <QLocalServer>
#include <QWidget>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The names a copy uses, read with the copy's runtime folder in place.
QString nameFor(const ProgramCopy& copy, QString (*name)(const QString&))
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", copy.runtimeDirectory().toLocal8Bit());
    const QString result = name(SingleApplication::instanceKey(copy.appName()));
    qputenv("XDG_RUNTIME_DIR", saved);
    return result;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
public:
    TestSingleInstance(SingleApplication* app, const ProgramCopy* copy)
        : m_app(app)
        , m_copy(copy)
    {
    }

private Q_SLOTS:
    void init();
    void laterStartWakesTheRunningCopy();
    void laterStartOfTheProgramEndsWhileTheFirstRuns();
    void startAfterACrashRunsNormally();
    void startRacingTheFirstCopysSetUpDoesNotTakeItsName();

private:
    SingleApplication* m_app;
    const ProgramCopy* m_copy;
};

void TestSingleInstance::init()
{
    // The copies started here browse the network: only ever inside a network of our own.
    SKIP_WITHOUT_PRIVATE_NETWORK();
}

// This test process is the running copy; the program started with the same branding is the
// later start.
void TestSingleInstance::laterStartWakesTheRunningCopy()
{
    QVERIFY(!m_app->isSecondInstance());
    QWidget window;
    m_app->setMainWindow(&window);
    window.showMinimized();
    QSignalSpy detected(m_app, &SingleApplication::secondInstanceDetected);

    QElapsedTimer elapsed;
    elapsed.start();
    QProcess* later = m_copy->start(this);
    QVERIFY(later->waitForFinished(5000));
    qInfo("later start ended after %lld ms", elapsed.elapsed());
    QCOMPARE(later->exitStatus(), QProcess::NormalExit);
    QCOMPARE(later->exitCode(), 0);
    QVERIFY(elapsed.elapsed() < 1500);

    QTRY_COMPARE(detected.count(), 1);
    QVERIFY(!(window.windowState() & Qt::WindowMinimized));
    m_app->setMainWindow(nullptr);
}

void TestSingleInstance::laterStartOfTheProgramEndsWhileTheFirstRuns()
{
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    QVERIFY(copy.isValid());
    QProcess* first = copy.start(this);
    QVERIFY(first->waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(nameFor(copy, &SingleApplication::serverName)),
                             10000);

    QProcess* second = copy.start(this);
    QVERIFY(second->waitForFinished(5000));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitCode(), 0);
}

// A killed copy leaves its segment and its socket file behind; neither may turn a later
// start away, and the copy that starts then must in turn be found by the next one.
void TestSingleInstance::startAfterACrashRunsNormally()
{
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    QVERIFY(copy.isValid());
    const QString server = nameFor(copy, &SingleApplication::serverName);

    QProcess* crashed = copy.start(this);
    QVERIFY(crashed->waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(server), 10000);
    crashed->kill();
    QVERIFY(crashed->waitForFinished(5000));
    QVERIFY(QFileInfo::exists(server));

    QProcess* next = copy.start(this);
    QVERIFY(next->waitForStarted(5000));
    QVERIFY(!next->waitForFinished(1500));

    QProcess* third = copy.start(this);
    QVERIFY(third->waitForFinished(5000));
    QCOMPARE(third->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);

    next->terminate();
    QVERIFY(next->waitForFinished(10000));
    QCOMPARE(next->exitCode(), 0);
}

// A first copy that holds the guard but is not listening yet: the later start waits for it
// instead of clearing its name and listening itself.
void TestSingleInstance::startRacingTheFirstCopysSetUpDoesNotTakeItsName()
{
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    QVERIFY(copy.isValid());
    const QString server = nameFor(copy, &SingleApplication::serverName);
    const QByteArray lockPath = QFile::encodeName(nameFor(copy, &SingleApplication::lockFileName));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);

    QProcess* later = copy.start(this);
    QVERIFY(later->waitForStarted(5000));
    QTest::qWait(300);
    QVERIFY(!QFileInfo::exists(server));

    QLocalServer first;
    first.setSocketOptions(QLocalServer::UserAccessOption);
    QSignalSpy called(&first, &QLocalServer::newConnection);
    QVERIFY(first.listen(server));

    QVERIFY(later->waitForFinished(5000));
    QCOMPARE(later->exitCode(), 0);
    QVERIFY(called.count() >= 1 || called.wait(1000));
    QVERIFY(first.isListening());
    QVERIFY(QFileInfo::exists(server));
    ::close(fd);
}

int main(int argc, char* argv[])
{
    // Before any thread starts: this process and the copies it starts get a network of their
    // own.
    PrivateNetwork::enter();
    // The copy whose guard this process holds.
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    qputenv("XDG_RUNTIME_DIR", copy.runtimeDirectory().toLocal8Bit());
    SingleApplication app(argc, argv, SingleApplication::instanceKey(copy.appName()));
    if (!copy.isValid())
        return 1;
    TestSingleInstance test(&app, &copy);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
