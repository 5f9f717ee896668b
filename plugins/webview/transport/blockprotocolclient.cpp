#include "plugins/webview/transport/blockprotocolclient.h"

#include <QDebug>
#include <QTcpSocket>

using BlockProtocol::Block;

namespace {

const char kStartSignature[] =
    "void __cdecl BlockProtocolClient::start(class std::unique_ptr<class QIODevice,struct "
    "std::default_delete<class QIODevice> > &&,class std::vector<struct "
    "BlockProtocol::BlockDescription,class std::allocator<struct BlockProtocol::BlockDescription> "
    "> &&)";

const QByteArray kAck = QByteArrayLiteral("ACK");
const QByteArray kNak = QByteArrayLiteral("NAK");
const QByteArray kPing = QByteArrayLiteral("PING");
const QByteArray kPreamble = QByteArrayLiteral("PROTOCOL PREAMBLE");
const QByteArray kEndPrelude = QByteArrayLiteral("END PRELUDE");

// Read in bounded pieces so a flooding peer hits the parser's limits before our memory does.
constexpr qint64 kReadChunk = 64 * 1024;

bool isBuiltIn(const QByteArray& header)
{
    return header == kAck || header == kNak || header == kEndPrelude || header == kPreamble;
}

} // namespace

BlockProtocolClient::BlockProtocolClient(QObject* parent)
    : QObject(parent)
{
    m_responseTimer.setSingleShot(true);
    m_responseTimer.setInterval(kResponseTimeoutMs);
    m_pingTimer.setInterval(kPingIntervalMs);
    connect(&m_responseTimer, &QTimer::timeout, this, &BlockProtocolClient::onResponseTimeout);
    connect(&m_pingTimer, &QTimer::timeout, this, [this] { send(Block(kPing)); });
}

BlockProtocolClient::~BlockProtocolClient()
{
    // Listeners may be going away with us: end the conversation without signalling.
    const QSignalBlocker blocker(this);
    reset();
}

void BlockProtocolClient::start(std::unique_ptr<QIODevice>&& device,
                                std::vector<BlockProtocol::BlockDescription>&& descriptions)
{
    if (m_device) {
        qWarning().noquote() << kStartSignature << "already started";
        return;
    }
    if (!device || !device->isOpen()) {
        qWarning().noquote() << kStartSignature << " device not open";
        return;
    }
    m_descriptions = std::move(descriptions);
    m_device = device.release();
    m_device->setParent(this);
    m_parser = BlockProtocol::ParserState();
    m_pending.clear();
    m_resetWhenIdle = false;

    connect(m_device, &QIODevice::readyRead, this, &BlockProtocolClient::readAvailable);
    connect(m_device, &QIODevice::aboutToClose, this, &BlockProtocolClient::reset);
    if (auto* socket = qobject_cast<QTcpSocket*>(m_device.data()))
        connect(socket, &QTcpSocket::disconnected, this, &BlockProtocolClient::reset);
    m_pingTimer.start();

    const QPointer<BlockProtocolClient> self(this);
    emit started();
    if (self && m_device && m_device->bytesAvailable() > 0)
        readAvailable();
}

bool BlockProtocolClient::send(Block&& block)
{
    if (!m_device)
        return false;
    m_pending.push_back(std::move(block));
    if (m_responseTimer.isActive())
        return true;
    return sendFront();
}

bool BlockProtocolClient::sendFront()
{
    m_responseTimer.stop();
    if (m_pending.empty())
        return true;
    const QByteArray bytes = BlockProtocol::serializeBlock(m_pending.front());
    if (m_device->write(bytes) != bytes.size())
        return false;
    m_pending.pop_front();
    m_responseTimer.start();
    return true;
}

void BlockProtocolClient::resetWhenIdle()
{
    if (m_pending.empty())
        reset();
    else
        m_resetWhenIdle = true;
}

void BlockProtocolClient::reset()
{
    if (!m_device)
        return;
    if (!m_pending.empty())
        qWarning("BlockProtocolClient reset with pending blocks");
    m_responseTimer.stop();
    m_pingTimer.stop();
    QIODevice* device = m_device;
    m_device = nullptr;
    disconnect(device, nullptr, this, nullptr);
    if (auto* socket = qobject_cast<QTcpSocket*>(device))
        socket->flush();
    device->close();
    // We may be inside one of the device's own signals, or in our destructor: let the event
    // loop delete it, not our children's clean-up.
    device->setParent(nullptr);
    device->deleteLater();
    // A later start begins a fresh conversation: nothing of this one may leak into it.
    m_pending.clear();
    m_parser = BlockProtocol::ParserState();
    m_resetWhenIdle = false;
    emit stopped();
}

bool BlockProtocolClient::acceptsHeader(const QByteArray& header, bool hadColon,
                                        Block::Format& format) const
{
    for (const BlockProtocol::BlockDescription& description : m_descriptions) {
        if (description.matcher && description.matcher(header, nullptr)) {
            format = description.format;
            return format != Block::KeyValue || hadColon;
        }
    }
    if (!isBuiltIn(header))
        return false;
    format = Block::KeyValue;
    return true;
}

void BlockProtocolClient::readAvailable()
{
    const QPointer<BlockProtocolClient> self(this);
    const BlockProtocol::HeaderMatcher matcher = [this](const QByteArray& header, bool hadColon,
                                                        Block::Format& format) {
        return acceptsHeader(header, hadColon, format);
    };
    while (self && m_device && m_device->bytesAvailable() > 0) {
        const QByteArray bytes = m_device->read(kReadChunk);
        if (bytes.isEmpty())
            break;
        std::vector<Block> blocks;
        BlockProtocol::parseBlocks(m_parser, bytes, matcher, blocks);
        const bool overflowed = m_parser.overflowed();
        for (Block& block : blocks) {
            if (!self || !m_device)
                return;
            handleBlock(block);
        }
        if (self && m_device && overflowed) {
            qWarning("BlockProtocolClient: the peer sent a line or block beyond the limits");
            reset();
        }
    }
}

void BlockProtocolClient::handleBlock(Block& block)
{
    const QPointer<BlockProtocolClient> self(this);
    if (block.name() == kAck || block.name() == kNak) {
        emit blockSent(block.name() == kAck ? Acknowledged : Refused);
        if (!self || !m_device)
            return;
        const bool sent = sendFront();
        if (!sent || (m_resetWhenIdle && m_pending.empty()))
            reset();
        return;
    }

    BlockProtocol::Arguments arguments;
    decltype(BlockProtocol::BlockDescription::handler) handler;
    bool accepted = false;
    for (const BlockProtocol::BlockDescription& description : m_descriptions) {
        arguments.clear();
        if (description.matcher && description.matcher(block.name(), &arguments)) {
            // A copy: the handler may end the conversation or drop the client.
            handler = description.handler;
            accepted = true;
            break;
        }
    }
    if (!accepted && block.name() != kEndPrelude && block.name() != kPreamble)
        qWarning("Unregistered block %s received\n", block.name().constData());
    if (block.name() == kEndPrelude) {
        emit receivedPreamble();
        if (!self)
            return;
    }
    if (handler)
        handler(block, arguments, BlockProtocol::ClientInfo());
}

void BlockProtocolClient::onResponseTimeout()
{
    const QPointer<BlockProtocolClient> self(this);
    emit blockSent(NoAnswer);
    if (!self)
        return;
    m_responseTimer.stop();
    reset();
}
