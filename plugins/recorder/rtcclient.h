#pragma once

#include "plugins/recorder/rpcserviceclient.h"

namespace CVN {
namespace DiskRecorder {

// The recorder's "RTC" service: its clock.
class RTCClient : public RpcServiceClient
{
public:
    enum Method : std::uint32_t { kSetTime = 0 };

    RTCClient();

    // Seconds since 1970-01-01 UTC, and a second word the unit takes with it.
    void setTime(std::uint32_t seconds, std::uint32_t second);
};

} // namespace DiskRecorder
} // namespace CVN
