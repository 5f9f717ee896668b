#pragma once

#include <cstdint>
#include <vector>

namespace Sim {

// The tunnel's messages as the unit writes them: every multi-byte field little-endian (the
// host's own messages come big-endian, see NovaTunnelParser). Each encoder appends one
// message's fixed part to out; a transfer's payload follows it in the stream.
class NovaTunnelWire
{
public:
    enum Type : uint16_t {
        OpenConnection = 1,
        ConnectionOpened = 2,
        Tokens = 3,
        Transfer = 4,
        CloseConnection = 5,
        ConnectionClosed = 6,
        TransferTokens = 7,
    };
    enum OpenKind : uint16_t { OpenTCP = 1, OpenTest = 2 };

    // One token is a credit of this many payload bytes.
    static constexpr uint64_t kTokenBytes = 1024;

    static void header(std::vector<uint8_t>* out, uint16_t type, uint16_t connection);
    static void opened(std::vector<uint8_t>* out, uint16_t connection);
    static void tokens(std::vector<uint8_t>* out, uint16_t connection, uint64_t count);
    static void transfer(std::vector<uint8_t>* out, uint16_t connection, uint64_t length);
    static void transferTokens(std::vector<uint8_t>* out, uint16_t connection, uint64_t length,
                               uint64_t count);
    static void closed(std::vector<uint8_t>* out, uint16_t connection, uint16_t error);
};

} // namespace Sim
