#include "plugins/recorder/netconfigclient.h"

namespace CVN {
namespace DiskRecorder {

NetConfigClient::NetConfigClient()
    : RpcServiceClient("NetConfig")
{
}

void NetConfigClient::writeValue0(std::uint32_t interfaceIndex, std::uint8_t value)
{
    callWithU32U8(kWriteValue0, interfaceIndex, value);
}

void NetConfigClient::writeValue1(std::uint32_t interfaceIndex, std::uint32_t value)
{
    callWithU32s(kWriteValue1, interfaceIndex, value);
}

void NetConfigClient::writeValue2(std::uint32_t interfaceIndex, std::uint32_t value)
{
    callWithU32s(kWriteValue2, interfaceIndex, value);
}

void NetConfigClient::writeValue3(std::uint32_t interfaceIndex, std::uint32_t value)
{
    callWithU32s(kWriteValue3, interfaceIndex, value);
}

} // namespace DiskRecorder
} // namespace CVN
