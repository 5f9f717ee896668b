#pragma once

#include "privatenetwork.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QVariantMap>

// Drives announcer.py (python3-zeroconf) as a real multicast DNS responder on loopback.
class Announcer
{
public:
    ~Announcer() { stop(); }

    // Empty on success, else why it could not run.
    QString start()
    {
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments({QStringLiteral(ANNOUNCER_SCRIPT)});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("/usr/bin/python3 did not start");
        const QByteArray line = readLine();
        if (line != "ready")
            return QStringLiteral("announcer not ready (is python3-zeroconf installed?): ") +
                   QString::fromUtf8(line);
        return QString();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    // Each returns once the announcer has sent its announcements (or goodbyes).
    bool registerService(const QString& name, const QVariantMap& txt, int port = 8080,
                         const QString& host = QStringLiteral("deckone"),
                         const QString& type = QStringLiteral("_corvane._tcp"),
                         const QString& address = QStringLiteral("127.0.0.1"))
    {
        return send(service("register", name, txt, port, host, type, address));
    }
    // Raw TXT record data, for records a map cannot express.
    bool registerRaw(const QString& name, const QByteArray& txtData)
    {
        return send({{"op", "register"},
                     {"name", name},
                     {"type", "_corvane._tcp"},
                     {"port", 8080},
                     {"host", "deckone"},
                     {"txthex", QString::fromLatin1(txtData.toHex())}});
    }
    bool updateService(const QString& name, const QVariantMap& txt, int port = 8080,
                       const QString& host = QStringLiteral("deckone"),
                       const QString& type = QStringLiteral("_corvane._tcp"),
                       const QString& address = QStringLiteral("127.0.0.1"))
    {
        return send(service("update", name, txt, port, host, type, address));
    }
    // Sends a registration without waiting, so the caller's event loop runs while the
    // announcer announces; answered() then reads its answer.
    void registerServiceLater(const QString& name, const QVariantMap& txt, int port,
                              const QString& host, const QString& type, const QString& address)
    {
        write(service("register", name, txt, port, host, type, address));
    }
    bool answered() { return readLine() == "ok"; }
    bool unregisterService(const QString& name,
                           const QString& type = QStringLiteral("_corvane._tcp"))
    {
        return send({{"op", "unregister"}, {"name", name}, {"type", type}});
    }

private:
    static QJsonObject service(const char* op, const QString& name, const QVariantMap& txt,
                               int port, const QString& host, const QString& type,
                               const QString& address)
    {
        return {{"op", op},
                {"name", name},
                {"type", type},
                {"port", port},
                {"host", host},
                {"address", address},
                {"txt", QJsonObject::fromVariantMap(txt)}};
    }
    void write(const QJsonObject& command)
    {
        m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    }
    bool send(const QJsonObject& command)
    {
        write(command);
        return answered();
    }

    QByteArray readLine()
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return QByteArray();
        }
        return m_process.readLine().trimmed();
    }

    QProcess m_process;
};

// Skips the test case (fails it in CI) where multicast may not run or the announcer cannot
// start.
#define START_ANNOUNCER_OR_SKIP(announcer)                                                         \
    do {                                                                                           \
        SKIP_WITHOUT_PRIVATE_NETWORK();                                                            \
        const QString failure = (announcer).start();                                               \
        if (!failure.isEmpty())                                                                    \
            SKIP_OR_FAIL_IN_CI(failure);                                                           \
    } while (false)
