#pragma once

#include "plugins/recorder/rpcserviceclient.h"

namespace CVN {
namespace DiskRecorder {

// The recorder's "SettingsFinch" service: its network configuration, read one value at a
// time.
class SettingsFinchClient : public RpcServiceClient
{
public:
    enum Method : std::uint32_t {
        kReadValue0 = 2,
        kReadValue1 = 4,
        kReadValue2 = 6,
        kReadValue3 = 8,
    };

    SettingsFinchClient();

    std::uint8_t readValue0();
    std::uint32_t readValue1();
    std::uint32_t readValue2();
    std::uint32_t readValue3();
};

} // namespace DiskRecorder
} // namespace CVN
