#pragma once

#include "plugins/recorder/rpcserviceclient.h"

namespace CVN {
namespace DiskRecorder {

// The recorder's "KestrelTransport" service: the codec and container it records in, and its
// record trigger.
class KestrelTransportClient : public RpcServiceClient
{
public:
    enum Method : std::uint32_t {
        kCodecName = 100,
        kContainer = 103,
        kSelectCodec = 104,
        kSetTrigger = 1010,
        kTrigger = 1011,
    };
    static constexpr std::uint32_t kCodecNameBytes = 64;

    KestrelTransportClient();

    // At most 64 characters: the name ends at its first zero byte or with the buffer.
    std::string codecName();
    std::uint8_t container();
    // The unit's own answer: 0 when it took the codec.
    std::uint32_t selectCodec(const std::string& codecName, std::uint8_t container);
    void setTrigger(std::uint32_t trigger);
    std::uint32_t trigger();
};

} // namespace DiskRecorder
} // namespace CVN
