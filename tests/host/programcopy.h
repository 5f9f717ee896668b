#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <csignal>
#include <unistd.h>

// The program in a folder of its own, branded with a name no other test or user copy has, with
// its own runtime and settings folders: copies of it meet only each other.
class ProgramCopy
{
public:
    explicit ProgramCopy(const QString& pluginFolder = QString())
        : m_appName(QStringLiteral("PellworthTest-") +
                    QUuid::createUuid().toString(QUuid::Id128).left(12))
    {
        if (!m_dir.isValid())
            return;
        const QString bin = qEnvironmentVariable("PELLWORTH_BIN_DIR");
        const QString program = m_dir.path() + QStringLiteral("/Pellworth");
        // A hard link keeps the program's own path in this folder; a copy does as well.
        if (::link(QFile::encodeName(bin + "/Pellworth").constData(),
                   QFile::encodeName(program).constData()) != 0)
            QFile::copy(bin + "/Pellworth", program);
        QDir().mkpath(m_dir.path() + "/Resources");
        QDir().mkpath(m_dir.path() + "/runtime");
        QDir().mkpath(m_dir.path() + "/config");
        QFile::setPermissions(m_dir.path() + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::copy(bin + "/Resources/AboutIcon.png", m_dir.path() + "/Resources/AboutIcon.png");
        QFile source(bin + "/Resources/settings.ini");
        QFile target(m_dir.path() + "/Resources/settings.ini");
        if (source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly)) {
            QByteArray text = source.readAll();
            text.replace("app_name=Pellworth", "app_name=" + m_appName.toUtf8());
            target.write(text);
        }
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory());
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + "/config");
        m_environment.insert(QStringLiteral("CVN_ADMIN_PLUGIN_PATH"), pluginFolder);
        // Under AddressSanitizer: Qt WebEngine's own Chromium code frees some objects through
        // a base of another size, which the sanitizer would stop the program for.
        QString asan = m_environment.value(QStringLiteral("ASAN_OPTIONS"));
        if (!asan.isEmpty())
            asan += QLatin1Char(':');
        m_environment.insert(QStringLiteral("ASAN_OPTIONS"),
                             asan + QStringLiteral("new_delete_type_mismatch=0"));
        m_ok = target.size() > 0;
    }

    bool isValid() const { return m_ok; }
    QString appName() const { return m_appName; }
    QString program() const { return m_dir.path() + QStringLiteral("/Pellworth"); }
    QString runtimeDirectory() const { return m_dir.path() + QStringLiteral("/runtime"); }
    QProcessEnvironment environment() const { return m_environment; }

    // Started with the copy's environment; the caller owns the process.
    QProcess* start(QObject* parent) const
    {
        auto* process = new QProcess(parent);
        process->setProcessEnvironment(m_environment);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program(), {});
        return process;
    }

    // Until the process has reached main and catches SIGTERM: before that a request to stop ends
    // it by the default action, which under a loaded sanitizer run can take seconds to pass.
    static bool waitUntilItCatchesTermination(const QProcess& process, int timeoutMs = 30000)
    {
        const QString status = QStringLiteral("/proc/%1/status").arg(process.processId());
        QDeadlineTimer deadline(timeoutMs);
        while (process.state() == QProcess::Running && !deadline.hasExpired()) {
            QFile file(status);
            if (file.open(QIODevice::ReadOnly)) {
                for (const QByteArray& line : file.readAll().split('\n')) {
                    if (line.startsWith("SigCgt:") &&
                        (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1)
                        return true;
                }
            }
            QThread::msleep(20);
        }
        return false;
    }

    static QString pluginFolder(const QString& name)
    {
        return qEnvironmentVariable("HOST_PLUGIN_TREE") + QLatin1Char('/') + name;
    }

private:
    QTemporaryDir m_dir;
    QString m_appName;
    QProcessEnvironment m_environment;
    bool m_ok = false;
};
