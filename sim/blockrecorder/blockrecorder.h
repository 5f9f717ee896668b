#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>

// The block-protocol service of a legacy network recorder. Reads blocks with its own small
// reader, logs them and answers each one as told: "ACK", "NAK" or nothing.
class BlockRecorder : public QObject
{
    Q_OBJECT
public:
    enum class Answer { Ack, Nak, Silence };

    struct ReceivedBlock
    {
        QByteArray name;
        QList<QPair<QByteArray, QByteArray>> fields;
        QByteArray text; // every line as received, the ending empty line included
        int connection = 0;
    };

    explicit BlockRecorder(QObject* parent = nullptr);
    ~BlockRecorder() override;

    bool listen(const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")),
                quint16 port = 0);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }

    // The answer for every block without a queued one.
    void setAnswer(Answer answer) { m_answer = answer; }
    // Answers for the next blocks, in order.
    void queueAnswers(const QList<Answer>& answers);
    // Sends "PROTOCOL PREAMBLE" and "END PRELUDE" to each new connection.
    void setPreambleOnConnect(bool send) { m_preambleOnConnect = send; }

    // Writes to the newest connection.
    void sendAnswer(Answer answer);
    void sendPreamble();
    void sendRaw(const QByteArray& bytes);
    void dropConnection();
    // Takes no more connections, as a recorder that is gone for good.
    void stopListening() { m_server.close(); }

    int connectionCount() const { return m_connectionCount; }
    bool isConnected() const;
    const QList<ReceivedBlock>& log() const { return m_log; }
    QList<QByteArray> receivedNames() const;
    // Names received, without the keep-alive "PING" blocks.
    QList<QByteArray> receivedNamesWithoutPings() const;

signals:
    void clientConnected();
    void blockReceived(const BlockRecorder::ReceivedBlock& block);

private:
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        ReceivedBlock current;
        bool inBlock = false;
        int index = 0;
    };

    void accept();
    void read(Connection* connection);
    void lineReceived(Connection* connection, const QByteArray& raw);
    void answer(QTcpSocket* socket, Answer answer);

    QTcpServer m_server;
    QList<Connection*> m_connections;
    QList<ReceivedBlock> m_log;
    QQueue<Answer> m_queued;
    Answer m_answer = Answer::Ack;
    bool m_preambleOnConnect = false;
    int m_connectionCount = 0;
};
