#include "host/singleapplication.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QThread>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Fixed for every build: two copies of the same branded program find each other through it.
const char kInstanceIdentifier[] = "7C3E9A1F5B2D48C6A0E4F17B92D35C68";

enum class Lock { Taken, HeldElsewhere, Unavailable };

// The guard is per user: names carry the user id and live in the user's runtime folder.
QString userKey(const QString& key)
{
    QString safe = key;
    safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    return safe + QLatin1Char('-') + QString::number(::getuid());
}

// A folder of this user's own, not a link, that no one else may write to.
bool isPrivateFolder(const QByteArray& path, mode_t forbidden)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & forbidden) == 0;
}

QString fallbackDirectory()
{
    return QDir::tempPath() + QStringLiteral("/Tendwell-runtime-") + QString::number(::getuid());
}

// The user's runtime folder, else a folder of the user's own in the temporary folder, made
// 0700 if missing; empty when neither can be had (say one made first by someone else, or a
// link).
QString userRuntimeDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(QFile::encodeName(runtime), S_IWGRP | S_IWOTH))
        return runtime;
    const QString fallback = fallbackDirectory();
    const QByteArray path = QFile::encodeName(fallback);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    // It may predate us: only one closed to everyone else will do.
    return isPrivateFolder(path, 077) ? fallback : QString();
}

} // namespace

SingleApplication::SingleApplication(int& argc, char** argv, const QString& key)
    : QApplication(argc, argv)
    , m_key(key)
{
    if (serverName(m_key).isEmpty()) {
        // Better two copies than names another user could have laid out for us.
        qWarning().noquote() << QStringLiteral("Running without the single-instance guard: "
                                               "XDG_RUNTIME_DIR is unusable and %1 is not a "
                                               "private folder of this user's.")
                                    .arg(fallbackDirectory());
        return;
    }
    // The lock dies with its holder, so a crashed copy never leaves a later start thinking
    // another copy runs, and a start racing the first copy's set-up never takes over its name.
    switch (takeLock() ? Lock::Taken : (m_lockFd >= 0 ? Lock::HeldElsewhere : Lock::Unavailable)) {
    case Lock::Taken:
        claimSharedMemory();
        listen();
        break;
    case Lock::HeldElsewhere:
        wakeRunningCopy();
        m_secondInstance = true;
        break;
    case Lock::Unavailable:
        // Without a lock file only the segment and the server tell.
        m_sharedMemory = new QSharedMemory(userKey(m_key), this);
        if (!m_sharedMemory->create(1, QSharedMemory::ReadOnly) && wakeRunningCopy()) {
            m_secondInstance = true;
            break;
        }
        listen();
        break;
    }
}

SingleApplication::~SingleApplication()
{
    if (m_localServer)
        m_localServer->close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleApplication::instanceKey(const QString& appName)
{
    return QLatin1String(kInstanceIdentifier) + appName;
}

QString SingleApplication::serverName(const QString& key)
{
    const QString folder = userRuntimeDirectory();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + userKey(key);
}

QString SingleApplication::lockFileName(const QString& key)
{
    const QString server = serverName(key);
    return server.isEmpty() ? QString() : server + QStringLiteral(".lock");
}

void SingleApplication::setMainWindow(QWidget* window)
{
    m_mainWindow = window;
}

bool SingleApplication::takeLock()
{
    const QByteArray path = QFile::encodeName(lockFileName(m_key));
    // Never through a link, even in a folder of our own.
    m_lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0)
        return false;
    int rc;
    do {
        rc = ::flock(m_lockFd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return true;
    if (errno != EWOULDBLOCK) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    return false;
}

bool SingleApplication::wakeRunningCopy()
{
    // With the lock held elsewhere the other copy is alive, though perhaps not listening yet;
    // without a lock, an answer within 100 ms is the only sign of life.
    const int budget = m_lockFd >= 0 ? probeTimeoutMs() : 100;
    QElapsedTimer elapsed;
    elapsed.start();
    bool connected = false;
    m_localSocket = new QLocalSocket(this);
    for (;;) {
        m_localSocket->connectToServer(serverName(m_key), QIODevice::ReadWrite);
        if (m_localSocket->waitForConnected(100)) {
            connected = true;
            break;
        }
        m_localSocket->abort();
        if (elapsed.elapsed() >= budget)
            break;
        QThread::msleep(20);
    }
    if (connected)
        m_localSocket->disconnectFromServer();
    delete m_localSocket;
    m_localSocket = nullptr;
    return connected;
}

void SingleApplication::claimSharedMemory()
{
    m_sharedMemory = new QSharedMemory(userKey(m_key), this);
    if (m_sharedMemory->create(1, QSharedMemory::ReadOnly))
        return;
    // We hold the lock, so a segment left over belongs to a copy that died: drop it.
    if (m_sharedMemory->error() == QSharedMemory::AlreadyExists && m_sharedMemory->attach())
        m_sharedMemory->detach();
    m_sharedMemory->create(1, QSharedMemory::ReadOnly);
}

void SingleApplication::listen()
{
    const QString name = serverName(m_key);
    m_localServer = new QLocalServer(this);
    m_localServer->setSocketOptions(QLocalServer::UserAccessOption);
    // Clears a socket file left behind by a copy that crashed.
    QLocalServer::removeServer(name);
    connect(m_localServer, &QLocalServer::newConnection, this,
            &SingleApplication::slotConnectionEstablished);
    m_localServer->listen(name);
}

void SingleApplication::slotConnectionEstablished()
{
    // The connection itself is the message.
    while (QLocalSocket* socket = m_localServer->nextPendingConnection())
        delete socket;
    Q_EMIT secondInstanceDetected();
    if (m_mainWindow) {
        m_mainWindow->setWindowState((m_mainWindow->windowState() & ~Qt::WindowMinimized) |
                                     Qt::WindowActive);
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}
