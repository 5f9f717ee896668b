#pragma once

#include "plugins/recorder/rpcserviceclient.h"

namespace CVN {
namespace DiskRecorder {

// The recorder's "NetConfig" service: writes its network configuration, one value of one
// interface at a time.
class NetConfigClient : public RpcServiceClient
{
public:
    enum Method : std::uint32_t {
        kWriteValue0 = 12,
        kWriteValue1 = 14,
        kWriteValue2 = 16,
        kWriteValue3 = 18,
    };

    NetConfigClient();

    void writeValue0(std::uint32_t interfaceIndex, std::uint8_t value);
    void writeValue1(std::uint32_t interfaceIndex, std::uint32_t value);
    void writeValue2(std::uint32_t interfaceIndex, std::uint32_t value);
    void writeValue3(std::uint32_t interfaceIndex, std::uint32_t value);
};

} // namespace DiskRecorder
} // namespace CVN
