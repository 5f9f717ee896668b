#include "usbtunnelmessage.h"

namespace CVN {

namespace {

void putBE(QByteArray* out, uint64_t value, int width)
{
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        out->append(char(uint8_t(value >> shift)));
}

QByteArray header(uint16_t type, uint16_t connectionId, int reserve)
{
    QByteArray out;
    out.reserve(reserve);
    putBE(&out, type, 2);
    putBE(&out, connectionId, 2);
    return out;
}

} // namespace

QByteArray USBTunnelMessage::openConnectionTCP(uint16_t connectionId, uint16_t port)
{
    QByteArray out = header(OpenConnection, connectionId, kOpenTCPSize);
    putBE(&out, OpenTCP, 2);
    putBE(&out, port, 2);
    return out;
}

QByteArray USBTunnelMessage::openConnectionTest(uint16_t connectionId, uint8_t a, uint64_t b,
                                                uint64_t c)
{
    QByteArray out = header(OpenConnection, connectionId, kOpenTestSize);
    putBE(&out, OpenTest, 2);
    putBE(&out, a, 1);
    putBE(&out, b, 8);
    putBE(&out, c, 8);
    return out;
}

QByteArray USBTunnelMessage::tokens(uint16_t connectionId, uint64_t count)
{
    QByteArray out = header(Tokens, connectionId, kTokensSize);
    putBE(&out, count, 8);
    return out;
}

QByteArray USBTunnelMessage::transfer(uint16_t connectionId, uint64_t payloadLength)
{
    QByteArray out = header(Transfer, connectionId, kTransferSize);
    putBE(&out, payloadLength, 8);
    return out;
}

QByteArray USBTunnelMessage::closeConnection(uint16_t connectionId)
{
    return header(CloseConnection, connectionId, kCloseSize);
}

QByteArray USBTunnelMessage::transferTokens(uint16_t connectionId, uint64_t tokenCount,
                                            const char* payload, uint32_t payloadLength)
{
    QByteArray out = header(TransferTokens, connectionId, kTransferTokensSize + payloadLength);
    putBE(&out, payloadLength, 8);
    putBE(&out, tokenCount, 8);
    out.append(payload, qsizetype(payloadLength));
    return out;
}

} // namespace CVN
