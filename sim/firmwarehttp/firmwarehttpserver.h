#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// The firmware endpoints of a network recorder's REST server ("/admin/api/v1/firmware/..."):
// update start with an upload name, the upload, finalize, the version query and update stop.
// After a finalize the recorder is away for a number of version queries (the connection is
// closed unanswered), then reports its new version. One request per connection.
//
// Knobs: the status of the update start (403 and 401 refuse; 401 with a Basic challenge), the
// upload name (empty: none given), the status of the upload and of the finalize, queries
// unanswered after the finalize (-1: the recorder never comes back), the version reported; the
// raw bodies of the update start and of the version reply, for malformed answers; a redirect of
// every request to another address.
class FirmwareHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path; // below "/admin/api"
        QByteArray contentType;
        qint64 bodySize = 0;
    };

    explicit FirmwareHttpServer(QObject* parent = nullptr);
    ~FirmwareHttpServer() override;

    bool listen(const QHostAddress& address, quint16 port = 80);

    void setStartStatus(int status) { m_startStatus = status; }
    void setUploadName(const QByteArray& name) { m_uploadName = name; }
    void setUploadStatus(int status) { m_uploadStatus = status; }
    void setFinalizeStatus(int status) { m_finalizeStatus = status; }
    void setRebootQueries(int queries) { m_rebootQueries = queries; }
    void setVersion(const QByteArray& version) { m_version = version; }
    // The version reported once the finalized update has been installed.
    void setVersionAfterUpdate(const QByteArray& version) { m_versionAfterUpdate = version; }

    // Served as they stand instead of the well-formed JSON (empty: the well-formed one).
    void setStartBody(const QByteArray& body) { m_startBody = body; }
    void setInfoBody(const QByteArray& body) { m_infoBody = body; }
    // Every request answered with 307 to location + path (empty: none).
    void setRedirect(const QByteArray& location) { m_redirect = location; }

    const QList<Request>& log() const { return m_log; }
    QList<QByteArray> paths() const;
    // The body of the last upload, as received.
    const QByteArray& uploaded() const { return m_uploaded; }

signals:
    void requestReceived(const QByteArray& method, const QByteArray& path);

private:
    struct Connection;
    void accept();
    void read(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& path,
                const QByteArray& body);
    static void reply(QTcpSocket* socket, int status, const QByteArray& body = {},
                      const QByteArray& location = {});

    QTcpServer m_server;
    QList<Request> m_log;
    QByteArray m_uploaded;
    int m_startStatus = 200;
    QByteArray m_uploadName = "firmware-0001.bin";
    int m_uploadStatus = 200;
    int m_finalizeStatus = 200;
    int m_rebootQueries = 1;
    int m_awayLeft = 0;
    bool m_finalized = false;
    QByteArray m_version = "8a4c0000";
    QByteArray m_versionAfterUpdate = "8A4C1F02";
    QByteArray m_startBody;
    QByteArray m_infoBody;
    QByteArray m_redirect;
};
