#pragma once

#include "plugins/webview/transport/abstractblockprotocolclient.h"
#include "plugins/webview/transport/blockdescription.h"
#include "plugins/webview/transport/blockparser.h"

#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

// One block-protocol conversation over an open byte stream: one block in flight until the peer
// answers "ACK" or "NAK", "PING" to keep the link alive, received blocks to their handlers.
class BlockProtocolClient : public QObject, public AbstractBlockProtocolClient
{
    Q_OBJECT
public:
    enum SendStatus : int32_t { Acknowledged = 0, Refused = 1, NoAnswer = 2 };
    Q_ENUM(SendStatus)

    static constexpr int kResponseTimeoutMs = 3000;
    static constexpr int kPingIntervalMs = 2500;

    explicit BlockProtocolClient(QObject* parent = nullptr);
    ~BlockProtocolClient() override;

    // Takes an open device (re-parented to the client) and the blocks it may receive.
    void start(std::unique_ptr<QIODevice>&& device,
               std::vector<BlockProtocol::BlockDescription>&& descriptions);
    bool send(BlockProtocol::Block&& block) override;
    // Ends the conversation: closes and drops the device, forgets queued blocks.
    void reset();
    // Ends the conversation as soon as no block waits to be sent.
    void resetWhenIdle();

    bool isStarted() const { return m_device != nullptr; }
    // Tests shorten these; the product keeps the defaults.
    void setResponseTimeout(int milliseconds) { m_responseTimer.setInterval(milliseconds); }
    void setPingInterval(int milliseconds) { m_pingTimer.setInterval(milliseconds); }

signals:
    void stopped();
    void started();
    void receivedPreamble();
    void blockSent(BlockProtocolClient::SendStatus status);

private:
    bool sendFront();
    void readAvailable();
    void handleBlock(BlockProtocol::Block& block);
    void onResponseTimeout();
    bool acceptsHeader(const QByteArray& header, bool hadColon,
                       BlockProtocol::Block::Format& format) const;

    BlockProtocol::ParserState m_parser;
    std::vector<BlockProtocol::BlockDescription> m_descriptions;
    std::deque<BlockProtocol::Block> m_pending;
    QPointer<QIODevice> m_device;
    QTimer m_responseTimer;
    QTimer m_pingTimer;
    bool m_resetWhenIdle = false;
};
