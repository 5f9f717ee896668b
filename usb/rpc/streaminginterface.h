#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VornOSRPC {

// A reliable message pipe to a unit: each writeStream is one message, each readStream one
// message back. Failures of the transport are VornOSRPC::Exception and its subclasses.
class StreamingInterface
{
public:
    virtual ~StreamingInterface() = default;
    // Asks whether the unit's stream side is ready, for at most timeoutMs (0: ask once).
    virtual bool waitReady(uint32_t timeoutMs) = 0;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual bool writeStream(const std::vector<uint8_t>& message) = 0;
    virtual bool readStream(std::vector<uint8_t>& message) = 0;
    // The wait limit of the next readStream only.
    virtual void setTimeout(uint32_t ms) = 0;
    virtual uint16_t productId() = 0;
    virtual uint16_t vendorId() = 0;
    virtual std::wstring identifier() = 0;
};

} // namespace VornOSRPC
