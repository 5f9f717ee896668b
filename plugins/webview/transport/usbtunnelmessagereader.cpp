#include "usbtunnelmessagereader.h"

#include "platform/bytereader.h"
#include "usbtunnelmessage.h"

#include <algorithm>

namespace CVN {

USBTunnelMessageReader::USBTunnelMessageReader(Sink* sink)
    : m_sink(sink)
{
}

void USBTunnelMessageReader::reset()
{
    m_stage = Stage::Header;
    m_have = 0;
    m_need = 4;
    m_payloadLeft = 0;
    m_error.clear();
}

bool USBTunnelMessageReader::fail(const QString& error)
{
    m_stage = Stage::Failed;
    m_error = error;
    return false;
}

bool USBTunnelMessageReader::feed(const char* data, size_t size)
{
    size_t at = 0;
    while (at < size || (m_stage == Stage::Payload && m_payloadLeft == 0)) {
        switch (m_stage) {
        case Stage::Failed:
            return false;
        case Stage::Payload: {
            const size_t take = size_t(std::min<uint64_t>(m_payloadLeft, size - at));
            if (take > 0)
                m_sink->payloadPiece(m_connection, data + at, take);
            at += take;
            m_payloadLeft -= take;
            if (m_payloadLeft == 0) {
                m_sink->payloadEnd(m_connection);
                m_stage = Stage::Header;
                m_have = 0;
                m_need = 4;
            }
            break;
        }
        case Stage::Header:
        case Stage::Fixed: {
            const size_t take = std::min(m_need - m_have, size - at);
            std::copy(data + at, data + at + take, m_fixed + m_have);
            m_have += take;
            at += take;
            if (m_have < m_need)
                break;
            if (!dispatch())
                return false;
            break;
        }
        }
    }
    return m_stage != Stage::Failed;
}

bool USBTunnelMessageReader::dispatch()
{
    const Platform::ByteReader reader(m_fixed, m_have);
    if (m_stage == Stage::Header) {
        if (!reader.u16(0, &m_type) || !reader.u16(2, &m_connection))
            return fail(QStringLiteral("Failed to read message header"));
        switch (m_type) {
        case USBTunnelMessage::OpenConnection:
            m_need = 6;
            break;
        case USBTunnelMessage::Tokens:
        case USBTunnelMessage::Transfer:
            m_need = 12;
            break;
        case USBTunnelMessage::ConnectionClosed:
            m_need = 6;
            break;
        case USBTunnelMessage::TransferTokens:
            m_need = 20;
            break;
        case USBTunnelMessage::ConnectionOpened:
        case USBTunnelMessage::CloseConnection:
            m_need = 4;
            break;
        default:
            return fail(QStringLiteral("Unknown tunnel message type %1 (connection %2)")
                            .arg(m_type)
                            .arg(m_connection));
        }
        m_stage = Stage::Fixed;
        if (m_have < m_need)
            return true;
    }

    if (m_type == USBTunnelMessage::OpenConnection && m_need == 6) {
        // The open kind decides how long the rest of the message is.
        uint16_t kind = 0;
        reader.u16(4, &kind);
        if (kind == USBTunnelMessage::OpenTCP)
            m_need = USBTunnelMessage::kOpenTCPSize;
        else if (kind == USBTunnelMessage::OpenTest)
            m_need = USBTunnelMessage::kOpenTestSize;
        else
            return fail(
                QStringLiteral("Unknown open kind %1 (connection %2)").arg(kind).arg(m_connection));
        return true;
    }

    m_stage = Stage::Header;
    m_have = 0;
    m_need = 4;
    switch (m_type) {
    case USBTunnelMessage::ConnectionOpened:
        m_sink->connectionOpened(m_connection);
        return true;
    case USBTunnelMessage::Tokens: {
        uint64_t count = 0;
        reader.u64(4, &count);
        m_sink->tokensReceived(m_connection, count);
        return true;
    }
    case USBTunnelMessage::ConnectionClosed: {
        uint16_t error = 0;
        reader.u16(4, &error);
        m_sink->connectionClosed(m_connection, error);
        return true;
    }
    case USBTunnelMessage::Transfer:
    case USBTunnelMessage::TransferTokens: {
        uint64_t length = 0;
        reader.u64(4, &length);
        if (m_type == USBTunnelMessage::TransferTokens) {
            uint64_t count = 0;
            reader.u64(12, &count);
            m_sink->tokensReceived(m_connection, count);
        }
        if (!m_sink->payloadBegin(m_connection, length))
            return fail(QStringLiteral("Payload of %1 bytes refused for connection %2")
                            .arg(length)
                            .arg(m_connection));
        m_payloadLeft = length;
        m_stage = Stage::Payload;
        return true;
    }
    default:
        return fail(
            QStringLiteral("USBBulkPipeInterface received message it shouldn't have been sent"));
    }
}

} // namespace CVN
