#pragma once

#include <cstdint>
#include <vector>

namespace Sim {

// The interfaces and endpoints of a configuration descriptor, read the way the driver reads
// them. Device bytes are untrusted: the walk stops at a descriptor shorter than 2 bytes, at
// one running past the data and at wTotalLength.
struct ConfigurationLayout
{
    struct Endpoint
    {
        uint8_t address = 0;
        uint8_t attributes = 0;
        uint16_t maxPacketSize = 0;
        uint8_t interval = 0;
    };
    struct Interface
    {
        uint8_t number = 0;
        uint8_t alternateSetting = 0;
        uint8_t interfaceClass = 0;
        uint8_t subClass = 0;
        uint8_t protocol = 0;
        uint8_t endpointCount = 0; // as the descriptor says
        std::vector<Endpoint> endpoints;
    };

    std::vector<Interface> interfaces; // in order: index = the driver's interface id

    static ConfigurationLayout parse(const std::vector<uint8_t>& bytes);
};

} // namespace Sim
