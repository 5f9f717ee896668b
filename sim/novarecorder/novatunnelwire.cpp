#include "sim/novarecorder/novatunnelwire.h"

namespace Sim {

namespace {

void putLE(std::vector<uint8_t>* out, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out->push_back(uint8_t(value >> (8 * i)));
}

} // namespace

void NovaTunnelWire::header(std::vector<uint8_t>* out, uint16_t type, uint16_t connection)
{
    putLE(out, type, 2);
    putLE(out, connection, 2);
}

void NovaTunnelWire::opened(std::vector<uint8_t>* out, uint16_t connection)
{
    header(out, ConnectionOpened, connection);
}

void NovaTunnelWire::tokens(std::vector<uint8_t>* out, uint16_t connection, uint64_t count)
{
    header(out, Tokens, connection);
    putLE(out, count, 8);
}

void NovaTunnelWire::transfer(std::vector<uint8_t>* out, uint16_t connection, uint64_t length)
{
    header(out, Transfer, connection);
    putLE(out, length, 8);
}

void NovaTunnelWire::transferTokens(std::vector<uint8_t>* out, uint16_t connection, uint64_t length,
                                    uint64_t count)
{
    header(out, TransferTokens, connection);
    putLE(out, length, 8);
    putLE(out, count, 8);
}

void NovaTunnelWire::closed(std::vector<uint8_t>* out, uint16_t connection, uint16_t error)
{
    header(out, ConnectionClosed, connection);
    putLE(out, error, 2);
}

} // namespace Sim
