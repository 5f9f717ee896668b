#include "firmwarehttpserver.h"

#include <QHash>
#include <QTcpSocket>

namespace {

const QByteArray kApiPrefix = "/admin/api";
const QByteArray kFirmware = "/v1/firmware/";

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 307:
        return "Temporary Redirect";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    default:
        return "Error";
    }
}

} // namespace

// The bytes of one request as they arrive.
struct FirmwareHttpServer::Connection
{
    QByteArray buffer;
    QByteArray method;
    QByteArray path;
    QByteArray contentType;
    qint64 contentLength = -1;
    bool headerDone = false;
};

FirmwareHttpServer::FirmwareHttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FirmwareHttpServer::accept);
}

FirmwareHttpServer::~FirmwareHttpServer() = default;

bool FirmwareHttpServer::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

QList<QByteArray> FirmwareHttpServer::paths() const
{
    QList<QByteArray> out;
    for (const Request& request : m_log)
        out.append(request.method + ' ' + request.path);
    return out;
}

void FirmwareHttpServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto* connection = new Connection;
        socket->setProperty("connection", QVariant::fromValue(static_cast<void*>(connection)));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [connection] { delete connection; });
    }
}

void FirmwareHttpServer::read(QTcpSocket* socket)
{
    auto* c = static_cast<Connection*>(socket->property("connection").value<void*>());
    if (!c)
        return;
    c->buffer += socket->readAll();
    if (!c->headerDone) {
        const int end = c->buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = c->buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        c->method = first.value(0);
        c->path = first.value(1);
        c->contentLength = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed().toLower();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            if (name == "content-length")
                c->contentLength = value.toLongLong();
            else if (name == "content-type")
                c->contentType = value;
        }
        c->buffer.remove(0, end + 4);
        c->headerDone = true;
    }
    if (c->buffer.size() < c->contentLength)
        return;
    const QByteArray body = c->buffer.left(c->contentLength);
    QByteArray path = c->path;
    if (path.startsWith(kApiPrefix))
        path.remove(0, kApiPrefix.size());
    m_log.append(Request{c->method, path, c->contentType, body.size()});
    emit requestReceived(c->method, path);
    c->headerDone = false;
    c->buffer.clear();
    answer(socket, c->method, path, body);
}

void FirmwareHttpServer::answer(QTcpSocket* socket, const QByteArray& method,
                                const QByteArray& path, const QByteArray& body)
{
    if (!m_redirect.isEmpty())
        return reply(socket, 307, {}, m_redirect + kApiPrefix + path);
    if (method == "PUT" && path == kFirmware + "updateStart") {
        if (m_startStatus != 200)
            return reply(socket, m_startStatus);
        m_finalized = false;
        if (!m_startBody.isEmpty())
            return reply(socket, 200, m_startBody);
        return reply(socket, 200, "{\"response\": {\"upload_name\": \"" + m_uploadName + "\"}}");
    }
    if (method == "PUT" && path.startsWith(kFirmware + "upload/")) {
        m_uploaded = body;
        return reply(socket, m_uploadStatus);
    }
    if (method == "PUT" && path == kFirmware + "updateFinalize") {
        if (m_finalizeStatus == 200) {
            m_finalized = true;
            m_awayLeft = m_rebootQueries;
        }
        return reply(socket, m_finalizeStatus);
    }
    if (method == "GET" && path == kFirmware + "info") {
        if (m_finalized && m_awayLeft != 0) {
            // Rebooting: the connection ends unanswered.
            if (m_awayLeft > 0)
                --m_awayLeft;
            socket->abort();
            return;
        }
        if (m_finalized && !m_infoBody.isEmpty())
            return reply(socket, 200, m_infoBody);
        const QByteArray version = m_finalized ? m_versionAfterUpdate : m_version;
        return reply(socket, 200, "{\"response\": {\"software version\": \"" + version + "\"}}");
    }
    if (method == "PUT" && path == kFirmware + "updateStop")
        return reply(socket, 200);
    reply(socket, 404);
}

void FirmwareHttpServer::reply(QTcpSocket* socket, int status, const QByteArray& body,
                               const QByteArray& location)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (!location.isEmpty())
        head += "Location: " + location + "\r\n";
    if (status == 401)
        head += "WWW-Authenticate: Basic realm=\"recorder\"\r\n";
    if (!body.isEmpty())
        head += "Content-Type: application/json\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head + body);
    socket->disconnectFromHost();
}
