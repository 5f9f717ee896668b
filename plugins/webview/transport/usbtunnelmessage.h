#pragma once

#include <QByteArray>

#include <cstdint>

namespace CVN {

// Messages the host writes on the tunnel interface. The host's messages are big-endian;
// the device answers little-endian (see USBTunnelMessageReader).
class USBTunnelMessage
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

    static constexpr int kTokenBytes = 1024;
    static constexpr int kOpenTCPSize = 8;
    static constexpr int kOpenTestSize = 23;
    static constexpr int kTokensSize = 12;
    static constexpr int kTransferSize = 12;
    static constexpr int kCloseSize = 4;
    static constexpr int kTransferTokensSize = 20;

    static QByteArray openConnectionTCP(uint16_t connectionId, uint16_t port);
    static QByteArray openConnectionTest(uint16_t connectionId, uint8_t a, uint64_t b, uint64_t c);
    static QByteArray tokens(uint16_t connectionId, uint64_t count);
    // The fixed part only; the payload goes as its own write.
    static QByteArray transfer(uint16_t connectionId, uint64_t payloadLength);
    static QByteArray closeConnection(uint16_t connectionId);
    // Fixed part and payload together, as one write.
    static QByteArray transferTokens(uint16_t connectionId, uint64_t tokenCount,
                                     const char* payload, uint32_t payloadLength);

    // Whether a write of this many bytes must be followed by a zero-length one, so the
    // device sees where it ends: a transfer of whole packets has no short packet to end it.
    static bool needsZeroLengthPacket(uint64_t bytes, int maxPacketSize)
    {
        return maxPacketSize > 0 && bytes > 0 && bytes % uint64_t(maxPacketSize) == 0;
    }
};

} // namespace CVN
