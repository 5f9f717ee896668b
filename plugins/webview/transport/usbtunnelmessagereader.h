#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace CVN {

// Cuts the device's little-endian byte stream into tunnel messages. A message may span
// several reads and one read may hold several messages; payload is handed on in pieces as
// it arrives, never buffered here.
class USBTunnelMessageReader
{
public:
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void connectionOpened(uint16_t connectionId) = 0;
        // The whole count as sent: a grant of 65536 tokens or more is a grant too.
        virtual void tokensReceived(uint16_t connectionId, uint64_t tokenCount) = 0;
        virtual void connectionClosed(uint16_t connectionId, uint16_t error) = 0;
        // A payload of length bytes follows; then payloadPiece() until it is complete, then
        // payloadEnd() once. A zero-length payload gets payloadBegin() and payloadEnd() only.
        // False refuses the payload (no room for it, or no such connection): a protocol
        // error that ends the stream.
        virtual bool payloadBegin(uint16_t connectionId, uint64_t length) = 0;
        virtual void payloadPiece(uint16_t connectionId, const char* data, size_t size) = 0;
        virtual void payloadEnd(uint16_t connectionId) = 0;
    };

    explicit USBTunnelMessageReader(Sink* sink);

    // False on a protocol error; error() then says which. The stream cannot go on after it.
    bool feed(const char* data, size_t size);
    QString error() const { return m_error; }
    void reset();

private:
    bool dispatch();
    bool fail(const QString& error);

    enum class Stage { Header, Fixed, Payload, Failed };

    Sink* m_sink;
    Stage m_stage = Stage::Header;
    uint8_t m_fixed[24] = {};
    size_t m_have = 0;
    size_t m_need = 4;
    uint16_t m_type = 0;
    uint16_t m_connection = 0;
    uint64_t m_payloadLeft = 0;
    QString m_error;
};

} // namespace CVN
