#include "host/singleapplication.h"
#include "privatenetwork.h"
#include "programcopy.h"

#include <QLocalServer>
#include <QWidget>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kKey = QStringLiteral("FolderTest");

QString fallbackIn(const QString& temp)
{
    return temp + QStringLiteral("/Tendwell-runtime-") + QString::number(::getuid());
}

// Sets an environment variable for as long as it lives ("unset" unsets it).
class ScopedVariable
{
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : m_name(name)
        , m_was(qEnvironmentVariableIsSet(name))
        , m_saved(qgetenv(name))
    {
        if (value == "unset")
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (m_was)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_was;
    QByteArray m_saved;
};

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
    void namesLiveInAFolderOfTheUsersOwn_data();
    void namesLiveInAFolderOfTheUsersOwn();
    void withoutAPrivateFolderCopiesRunUnguarded();
    void lockFileLinkIsNeverFollowed();

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
    QVERIFY(later->waitForFinished(30000));
    qInfo("later start ended after %lld ms", elapsed.elapsed());
    QCOMPARE(later->exitStatus(), QProcess::NormalExit);
    QCOMPARE(later->exitCode(), 0);

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
    QVERIFY(ProgramCopy::waitUntilItCatchesTermination(*next));
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

// The lock file and the server's socket sit where no other user can lay out names first.
void TestSingleInstance::namesLiveInAFolderOfTheUsersOwn_data()
{
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<QString>("fallbackBefore");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the runtime folder") << "private"
                                        << "none"
                                        << "runtime";
    QTest::newRow("no runtime folder") << "unset"
                                       << "none"
                                       << "fallback";
    QTest::newRow("runtime folder open to others") << "open"
                                                   << "none"
                                                   << "fallback";
    QTest::newRow("runtime folder a link") << "link"
                                           << "none"
                                           << "fallback";
    QTest::newRow("own fallback kept") << "unset"
                                       << "private"
                                       << "fallback";
    QTest::newRow("fallback a link") << "unset"
                                     << "link"
                                     << "none";
    QTest::newRow("fallback open to others") << "unset"
                                             << "open"
                                             << "none";
    QTest::newRow("fallback a file") << "unset"
                                     << "file"
                                     << "none";
    if (::getuid() == 0)
        QTest::newRow("fallback someone else's") << "unset"
                                                 << "foreign"
                                                 << "none";
}

void TestSingleInstance::namesLiveInAFolderOfTheUsersOwn()
{
    QFETCH(QString, runtime);
    QFETCH(QString, fallbackBefore);
    QFETCH(QString, expected);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString target = temp.path() + "/elsewhere";
    QVERIFY(QDir().mkdir(target));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Lays out a folder of the given kind at the path.
    auto make = [&](const QString& path, const QString& kind) {
        const QByteArray p = QFile::encodeName(path);
        if (kind == "link")
            return ::symlink(QFile::encodeName(target).constData(), p.constData()) == 0;
        if (kind == "file")
            return QFile(path).open(QIODevice::WriteOnly);
        if (::mkdir(p.constData(), 0700) != 0)
            return false;
        if (kind == "open")
            return ::chmod(p.constData(), 0777) == 0;
        if (kind == "foreign")
            return ::chown(p.constData(), 65534, 65534) == 0;
        return true;
    };
    const QString runtimeFolder = temp.path() + "/runtime";
    if (runtime != "unset")
        QVERIFY(make(runtimeFolder, runtime));
    const QString fallback = fallbackIn(temp.path());
    if (fallbackBefore != "none")
        QVERIFY(make(fallback, fallbackBefore));

    ScopedVariable tmp("TMPDIR", QFile::encodeName(temp.path()));
    ScopedVariable xdg("XDG_RUNTIME_DIR",
                       runtime == "unset" ? QByteArray("unset") : QFile::encodeName(runtimeFolder));
    const QString server = SingleApplication::serverName(kKey);
    const QString lock = SingleApplication::lockFileName(kKey);
    if (expected == "none") {
        QVERIFY2(server.isEmpty(), qPrintable(server));
        QVERIFY(lock.isEmpty());
        QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        return;
    }
    const QString folder = expected == "runtime" ? runtimeFolder : fallback;
    QCOMPARE(QFileInfo(server).path(), folder);
    QCOMPARE(QFileInfo(lock).path(), folder);
    struct stat info;
    QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_uid, ::getuid());
    if (expected == "fallback")
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
}

// Where no private folder can be had, the program runs without the guard and says so.
void TestSingleInstance::withoutAPrivateFolderCopiesRunUnguarded()
{
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    QVERIFY(copy.isValid());
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(QFile::link(copy.runtimeDirectory(), fallbackIn(temp.path())));
    QProcessEnvironment environment = copy.environment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("TMPDIR"), temp.path());

    // Both run: the second finds no guard to call.
    QList<QProcess*> copies;
    for (int i = 0; i < 2; ++i) {
        auto* p = new QProcess(this);
        p->setProcessEnvironment(environment);
        p->start(copy.program(), {});
        QVERIFY(p->waitForStarted(5000));
        copies.append(p);
    }
    for (QProcess* p : copies) {
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT(
            p->state() != QProcess::Running ||
                (log += p->readAllStandardError()).contains("without the single-instance guard"),
            10000);
        QVERIFY2(p->state() == QProcess::Running, log.constData());
    }
    // Nothing was laid out through the link.
    QCOMPARE(QDir(copy.runtimeDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    // Still starting up, perhaps: ended hard, as a stop request could come before the program
    // listens for one.
    for (QProcess* p : copies) {
        p->kill();
        QVERIFY(p->waitForFinished(10000));
    }
}

// Only the user (or root) can put a link into the private folder, and still none is followed:
// the file it points at is neither made nor locked.
void TestSingleInstance::lockFileLinkIsNeverFollowed()
{
    ProgramCopy copy(ProgramCopy::pluginFolder("demo"));
    QVERIFY(copy.isValid());
    const QString lock = nameFor(copy, &SingleApplication::lockFileName);
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.path() + "/victim";
    QVERIFY(QFile::link(victim, lock));

    QProcess* p = copy.start(this);
    QVERIFY(p->waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(nameFor(copy, &SingleApplication::serverName)),
                             10000);
    QVERIFY(!QFileInfo::exists(victim));
    QVERIFY(QFileInfo(lock).isSymLink());
    QCOMPARE(p->state(), QProcess::Running);
    p->kill();
    QVERIFY(p->waitForFinished(10000));
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
