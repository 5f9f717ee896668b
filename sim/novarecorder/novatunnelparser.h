#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Sim {

// Cuts the host's big-endian byte stream into tunnel messages, from the unit's side. A
// message may span several transfers and one transfer may hold several; payload is handed
// on in pieces as it arrives. Messages only the unit sends (opened, closed), a type outside
// 1 to 7 and an unknown open kind break the stream: feed() answers false from then on until
// reset().
class NovaTunnelParser
{
public:
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void openTCP(uint16_t connection, uint16_t port) = 0;
        virtual void openTest(uint16_t connection, uint8_t a, uint64_t b, uint64_t c) = 0;
        virtual void tokens(uint16_t connection, uint64_t count) = 0;
        virtual void close(uint16_t connection) = 0;
        // A transfer (tokens is 0 for type 4): payloadPiece() until length bytes came, then
        // payloadEnd() once; a zero-length payload gets payloadEnd() at once.
        virtual void payloadBegin(uint16_t connection, uint16_t type, uint64_t length,
                                  uint64_t tokens) = 0;
        virtual void payloadPiece(uint16_t connection, const uint8_t* data, size_t size) = 0;
        virtual void payloadEnd(uint16_t connection) = 0;
    };

    explicit NovaTunnelParser(Sink* sink);

    bool feed(const uint8_t* data, size_t size);
    const std::string& error() const { return m_error; }
    void reset();

private:
    bool dispatch();
    bool fail(std::string error);

    enum class Stage { Header, Fixed, Payload, Failed };

    Sink* m_sink;
    Stage m_stage = Stage::Header;
    uint8_t m_fixed[24] = {};
    size_t m_have = 0;
    size_t m_need = 4;
    uint16_t m_type = 0;
    uint16_t m_connection = 0;
    uint64_t m_payloadLeft = 0;
    std::string m_error;
};

} // namespace Sim
