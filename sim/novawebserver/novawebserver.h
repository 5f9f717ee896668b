#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// The configuration web server of a network recorder: its admin page under "/admin/", a page the
// admin page opens as a dialog window, and the REST API under "/admin/api" (heartBeat, crashlogs
// GET and DELETE). Keeps a request log and can be switched to refuse connections, answer late or
// answer with a server error; can redirect the API elsewhere and serve crash logs without end.
class NovaWebServer : public QObject
{
    Q_OBJECT
public:
    enum class Mode {
        Normal,
        Refuse, // connections are closed as soon as they are accepted
        Delay,  // every answer waits delayMs()
        Fail,   // every request is answered with 500
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;
    };

    explicit NovaWebServer(QObject* parent = nullptr);
    ~NovaWebServer() override;

    bool listen(const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")),
                quint16 port = 0);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }

    // Refuse also drops the connections already open.
    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    void setDelayMs(int ms) { m_delayMs = ms; }
    int delayMs() const { return m_delayMs; }

    void setCrashlogs(const QByteArray& bytes) { m_crashlogs = bytes; }
    QByteArray crashlogs() const { return m_crashlogs; }
    // The crash-log download never ends: no length, bytes for as long as the client reads.
    void setEndlessCrashlogs(bool endless) { m_endlessCrashlogs = endless; }
    // API requests answered with 302 to location + path (empty: answered here).
    void setRedirect(const QByteArray& location) { m_redirect = location; }
    // The page served at "/admin/"; a default page that uses every published object otherwise.
    void setAdminPage(const QByteArray& html) { m_adminPage = html; }
    static QByteArray defaultAdminPage();
    // "/admin/dialog.html": sets the dialog maxima given in its query ("maxWidth", "maxHeight")
    // through "DialogAPI", then says its size is set.
    static QByteArray dialogPage();

    const QList<Request>& log() const { return m_log; }
    int count(const QByteArray& method, const QByteArray& path) const;
    void clearLog() { m_log.clear(); }

Q_SIGNALS:
    void requestReceived(const QByteArray& method, const QByteArray& path);

private:
    void accept();
    void read(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& method, const QByteArray& path);
    void send(QTcpSocket* socket, int status, const QByteArray& type, const QByteArray& body,
              const QByteArray& extraHeaders = {});
    void sendEndless(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<Request> m_log;
    Mode m_mode = Mode::Normal;
    int m_delayMs = 0;
    QByteArray m_crashlogs;
    bool m_endlessCrashlogs = false;
    QByteArray m_redirect;
    QByteArray m_adminPage;
};
