#include "sim/blockrecorder/blockrecorder.h"

BlockRecorder::BlockRecorder(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &BlockRecorder::accept);
}

BlockRecorder::~BlockRecorder()
{
    for (Connection* connection : std::as_const(m_connections)) {
        if (connection->socket)
            connection->socket->disconnect(this);
    }
    qDeleteAll(m_connections);
}

bool BlockRecorder::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

void BlockRecorder::queueAnswers(const QList<Answer>& answers)
{
    for (Answer answer : answers)
        m_queued.enqueue(answer);
}

void BlockRecorder::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        auto* connection = new Connection;
        connection->socket = socket;
        connection->index = m_connectionCount++;
        m_connections.append(connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { read(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            m_connections.removeOne(connection);
            if (connection->socket)
                connection->socket->deleteLater();
            delete connection;
        });
        if (m_preambleOnConnect)
            sendPreamble();
        emit clientConnected();
    }
}

void BlockRecorder::read(Connection* connection)
{
    connection->buffer += connection->socket->readAll();
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = connection->buffer.indexOf('\n', start);
        if (end < 0)
            break;
        const QByteArray raw = connection->buffer.mid(start, end + 1 - start);
        start = end + 1;
        lineReceived(connection, raw);
        if (!m_connections.contains(connection))
            return;
    }
    connection->buffer.remove(0, start);
}

void BlockRecorder::lineReceived(Connection* connection, const QByteArray& raw)
{
    const QByteArray line = raw.trimmed();
    if (!connection->inBlock) {
        if (line.isEmpty())
            return;
        connection->current = ReceivedBlock();
        connection->current.connection = connection->index;
        connection->current.name = line.endsWith(':') ? line.chopped(1) : line;
        connection->current.text = raw;
        connection->inBlock = true;
        return;
    }
    connection->current.text += raw;
    if (!line.isEmpty()) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            connection->current.fields.append({QByteArray(), line});
        else
            connection->current.fields.append(
                {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return;
    }
    connection->inBlock = false;
    const ReceivedBlock block = connection->current;
    m_log.append(block);
    const Answer answerNow = m_queued.isEmpty() ? m_answer : m_queued.dequeue();
    answer(connection->socket, answerNow);
    emit blockReceived(block);
}

void BlockRecorder::answer(QTcpSocket* socket, Answer answer)
{
    if (!socket)
        return;
    if (answer == Answer::Ack)
        socket->write("ACK:\n\n");
    else if (answer == Answer::Nak)
        socket->write("NAK:\n\n");
}

void BlockRecorder::sendAnswer(Answer answer)
{
    if (!m_connections.isEmpty())
        this->answer(m_connections.last()->socket, answer);
}

void BlockRecorder::sendPreamble()
{
    sendRaw("PROTOCOL PREAMBLE:\r\nProtocol: Block\r\nVersion: 1.0\r\n\r\nEND PRELUDE:\r\n\r\n");
}

void BlockRecorder::sendRaw(const QByteArray& bytes)
{
    if (!m_connections.isEmpty() && m_connections.last()->socket)
        m_connections.last()->socket->write(bytes);
}

void BlockRecorder::dropConnection()
{
    if (!m_connections.isEmpty() && m_connections.last()->socket)
        m_connections.last()->socket->disconnectFromHost();
}

bool BlockRecorder::isConnected() const
{
    return !m_connections.isEmpty();
}

QList<QByteArray> BlockRecorder::receivedNames() const
{
    QList<QByteArray> names;
    for (const ReceivedBlock& block : m_log)
        names.append(block.name);
    return names;
}

QList<QByteArray> BlockRecorder::receivedNamesWithoutPings() const
{
    QList<QByteArray> names = receivedNames();
    names.removeAll(QByteArrayLiteral("PING"));
    return names;
}
