#include "sim/novawebserver/novawebserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qsizetype kMaxHeaderBytes = 16 * 1024;
constexpr qsizetype kEndlessChunkBytes = 64 * 1024;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "Internal Server Error";
    }
}

} // namespace

NovaWebServer::NovaWebServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &NovaWebServer::accept);
}

NovaWebServer::~NovaWebServer()
{
    const auto sockets = m_buffers.keys();
    for (QTcpSocket* socket : sockets)
        socket->disconnect(this);
}

bool NovaWebServer::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

void NovaWebServer::setMode(Mode mode)
{
    m_mode = mode;
    if (mode != Mode::Refuse)
        return;
    const auto sockets = m_buffers.keys();
    for (QTcpSocket* socket : sockets)
        socket->abort();
}

int NovaWebServer::count(const QByteArray& method, const QByteArray& path) const
{
    int n = 0;
    for (const Request& request : m_log)
        n += request.method == method && request.path == path;
    return n;
}

void NovaWebServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        if (m_mode == Mode::Refuse) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void NovaWebServer::read(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer.size() > kMaxHeaderBytes)
                socket->abort();
            return;
        }
        const QByteArray head = buffer.left(end);
        buffer.remove(0, end + 4);
        // Requests of the API carry no body; a declared one is skipped.
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> words = lines.value(0).trimmed().split(' ');
        qsizetype bodyLength = 0;
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                bodyLength = line.mid(colon + 1).trimmed().toLongLong();
        }
        buffer.remove(0, qMin(bodyLength, buffer.size()));
        const QByteArray method = words.value(0);
        const QByteArray path = words.value(1).split('?').value(0);
        m_log.append({method, path});
        emit requestReceived(method, path);
        if (m_mode == Mode::Delay && m_delayMs > 0) {
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(m_delayMs, this, [this, guard, method, path] {
                if (guard)
                    respond(guard, method, path);
            });
        } else {
            respond(socket, method, path);
        }
    }
}

void NovaWebServer::respond(QTcpSocket* socket, const QByteArray& method, const QByteArray& path)
{
    if (m_mode == Mode::Fail) {
        send(socket, 500, "text/plain", "failure");
        return;
    }
    if (!m_redirect.isEmpty() && path.startsWith("/admin/api/")) {
        send(socket, 302, "text/plain", {}, "Location: " + m_redirect + path + "\r\n");
        return;
    }
    if (path == "/admin/api/v1/heartBeat") {
        if (method == "GET")
            send(socket, 200, "application/json", "{}");
        else
            send(socket, 405, "text/plain", {});
    } else if (path == "/admin/api/v1/crashlogs") {
        if (method == "GET" && m_endlessCrashlogs) {
            sendEndless(socket);
        } else if (method == "GET") {
            send(socket, 200, "application/octet-stream", m_crashlogs);
        } else if (method == "DELETE") {
            m_crashlogs.clear();
            send(socket, 200, "application/json", "{}");
        } else {
            send(socket, 405, "text/plain", {});
        }
    } else if (method == "GET" && path == "/admin/dialog.html") {
        send(socket, 200, "text/html; charset=utf-8", dialogPage());
    } else if (method == "GET" && (path == "/admin/" || path == "/admin/index.html")) {
        send(socket, 200, "text/html; charset=utf-8",
             m_adminPage.isEmpty() ? defaultAdminPage() : m_adminPage);
    } else {
        send(socket, 404, "text/plain", "not found");
    }
}

void NovaWebServer::send(QTcpSocket* socket, int status, const QByteArray& type,
                         const QByteArray& body, const QByteArray& extraHeaders)
{
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    reply += extraHeaders;
    reply += "Content-Type: " + type + "\r\n";
    reply += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    reply += "Cache-Control: no-store\r\n\r\n";
    reply += body;
    socket->write(reply);
}

void NovaWebServer::sendEndless(QTcpSocket* socket)
{
    // No length and no end: the body lasts until the client closes the connection. A chunk goes
    // out whenever the last one has left, so the server holds little.
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                  "Connection: close\r\nCache-Control: no-store\r\n\r\n");
    const QByteArray chunk(kEndlessChunkBytes, 'L');
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket, chunk] {
        if (socket->bytesToWrite() < 2 * kEndlessChunkBytes)
            socket->write(chunk);
    });
    socket->write(chunk);
}

QByteArray NovaWebServer::defaultAdminPage()
{
    return QByteArrayLiteral(R"(<!DOCTYPE html>
<html><head><title>Nova Admin</title>
<style>
body { font-family: sans-serif; background: #1d1f22; color: #e8e8e8; margin: 16px; }
h1 { font-size: 18px; } label { display: block; margin: 8px 0 2px; }
input { width: 260px; } button { margin: 6px 6px 0 0; } #status { color: #8fd18f; }
</style></head>
<body>
<h1>Nova Recorder</h1>
<label>Device name</label><input id="name" value="Studio A">
<button id="rename">Rename</button>
<label>Host name</label><input id="hostname" value="nova-studio-a">
<button id="sethost">Set host name</button>
<div><button id="copy">Copy serial</button><button id="help">Help</button>
<button id="about">About</button></div>
<p id="status">waiting for channel</p>
<script>
function api(name) { return window.webChannelObjects ? window.webChannelObjects[name] : null; }
function ready() {
  var common = api('CommonDeviceAPI'), net = api('NetworkAccessAPI');
  if (!common) { setTimeout(ready, 100); return; }
  document.getElementById('status').textContent = 'connected';
  common.log('admin page ready');
  common.settingsSaveClicked.connect(function () {
    common.setDeviceName(document.getElementById('name').value);
    document.getElementById('status').textContent = 'saved';
  });
  common.settingsCancelClicked.connect(function () {
    document.getElementById('status').textContent = 'cancelled';
  });
  document.getElementById('rename').onclick = function () {
    common.setDeviceName(document.getElementById('name').value);
  };
  document.getElementById('sethost').onclick = function () {
    common.setDeviceHostname(document.getElementById('hostname').value);
  };
  document.getElementById('about').onclick = function () {
    window.open('dialog.html?maxWidth=640&maxHeight=480', 'about', 'width=400,height=300');
  };
  if (net) {
    document.getElementById('copy').onclick = function () { net.copyToClipboard('NOVA-0001'); };
    document.getElementById('help').onclick = function () { net.openUrl('https://example.invalid/help'); };
  }
}
ready();
</script>
</body></html>
)");
}

QByteArray NovaWebServer::dialogPage()
{
    // Opened by the admin page as a dialog window; the maxima come from the query, so a caller
    // can ask for a fixed or a resizable window.
    return QByteArrayLiteral(R"(<!DOCTYPE html>
<html><head><title>About Nova</title>
<style>body { font-family: sans-serif; background: #1d1f22; color: #e8e8e8; }</style></head>
<body>
<h1>Nova Recorder</h1><p id="status">waiting for channel</p>
<script>
function sized() {
  var dialog = window.webChannelObjects ? window.webChannelObjects.DialogAPI : null;
  if (!dialog) { setTimeout(sized, 100); return; }
  var query = new URLSearchParams(window.location.search);
  if (query.has('maxWidth')) dialog.maxDialogWidth = Number(query.get('maxWidth'));
  if (query.has('maxHeight')) dialog.maxDialogHeight = Number(query.get('maxHeight'));
  dialog.initialSizeSet();
  document.getElementById('status').textContent = 'sized';
}
sized();
</script>
</body></html>
)");
}
