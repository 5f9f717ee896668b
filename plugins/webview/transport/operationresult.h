#pragma once

#include <cstdint>

namespace CVN {
namespace USBTunnel {

// The outcome of every tunnel operation.
enum OperationResult : uint32_t {
    Success = 0,        // for an open or close, the ConnectionError says how the device answered
    ConnectionLost = 1, // the connection ended while the operation was pending
    TunnelClosed = 2,   // the transport failed or was closed, or would not take the message
    Refused = 3,        // unknown or busy id, same operation already pending, or not open
};

// The device's own code when it ends or refuses a connection; 0 is no error. Passed on
// unchanged, never interpreted here.
using ConnectionError = uint16_t;

} // namespace USBTunnel
} // namespace CVN
