#include "sim/novarecorder/novatunnelparser.h"

#include "sim/novarecorder/novatunnelwire.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr size_t kOpenTCPSize = 8;
constexpr size_t kOpenTestSize = 23;
constexpr size_t kOpenKindEnd = 6;

uint64_t getBE(const uint8_t* data, int width)
{
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | data[i];
    return value;
}

} // namespace

NovaTunnelParser::NovaTunnelParser(Sink* sink)
    : m_sink(sink)
{
}

void NovaTunnelParser::reset()
{
    m_stage = Stage::Header;
    m_have = 0;
    m_need = 4;
    m_payloadLeft = 0;
    m_error.clear();
}

bool NovaTunnelParser::fail(std::string error)
{
    m_stage = Stage::Failed;
    m_error = std::move(error);
    return false;
}

bool NovaTunnelParser::feed(const uint8_t* data, size_t size)
{
    size_t at = 0;
    while (at < size || (m_stage == Stage::Payload && m_payloadLeft == 0)) {
        if (m_stage == Stage::Failed)
            return false;
        if (m_stage == Stage::Payload) {
            const size_t take = size_t(std::min<uint64_t>(m_payloadLeft, size - at));
            if (take > 0)
                m_sink->payloadPiece(m_connection, data + at, take);
            at += take;
            m_payloadLeft -= take;
            if (m_payloadLeft == 0) {
                m_stage = Stage::Header;
                m_have = 0;
                m_need = 4;
                m_sink->payloadEnd(m_connection);
            }
            continue;
        }
        const size_t take = std::min(m_need - m_have, size - at);
        std::copy(data + at, data + at + take, m_fixed + m_have);
        m_have += take;
        at += take;
        if (m_have == m_need && !dispatch())
            return false;
    }
    return m_stage != Stage::Failed;
}

// Called whenever the bytes asked for are in: decides how many more the message has, or
// hands the complete fixed part on.
bool NovaTunnelParser::dispatch()
{
    if (m_stage == Stage::Header) {
        m_type = uint16_t(getBE(m_fixed, 2));
        m_connection = uint16_t(getBE(m_fixed + 2, 2));
        switch (m_type) {
        case NovaTunnelWire::OpenConnection:
            m_need = kOpenKindEnd;
            break;
        case NovaTunnelWire::Tokens:
        case NovaTunnelWire::Transfer:
            m_need = 12;
            break;
        case NovaTunnelWire::TransferTokens:
            m_need = 20;
            break;
        case NovaTunnelWire::CloseConnection:
            m_need = 4;
            break;
        default:
            return fail("message type " + std::to_string(m_type) + " from the host");
        }
        m_stage = Stage::Fixed;
        if (m_have < m_need)
            return true;
    }
    if (m_type == NovaTunnelWire::OpenConnection && m_need == kOpenKindEnd) {
        const uint16_t kind = uint16_t(getBE(m_fixed + 4, 2));
        if (kind == NovaTunnelWire::OpenTCP)
            m_need = kOpenTCPSize;
        else if (kind == NovaTunnelWire::OpenTest)
            m_need = kOpenTestSize;
        else
            return fail("open kind " + std::to_string(kind));
        return true;
    }

    m_stage = Stage::Header;
    m_have = 0;
    m_need = 4;
    switch (m_type) {
    case NovaTunnelWire::OpenConnection:
        if (getBE(m_fixed + 4, 2) == NovaTunnelWire::OpenTCP)
            m_sink->openTCP(m_connection, uint16_t(getBE(m_fixed + 6, 2)));
        else
            m_sink->openTest(m_connection, m_fixed[6], getBE(m_fixed + 7, 8),
                             getBE(m_fixed + 15, 8));
        return true;
    case NovaTunnelWire::Tokens:
        m_sink->tokens(m_connection, getBE(m_fixed + 4, 8));
        return true;
    case NovaTunnelWire::CloseConnection:
        m_sink->close(m_connection);
        return true;
    default: { // Transfer, TransferTokens
        const uint64_t length = getBE(m_fixed + 4, 8);
        const uint64_t count =
            m_type == NovaTunnelWire::TransferTokens ? getBE(m_fixed + 12, 8) : 0;
        m_payloadLeft = length;
        m_stage = Stage::Payload;
        m_sink->payloadBegin(m_connection, m_type, length, count);
        return true;
    }
    }
}

} // namespace Sim
