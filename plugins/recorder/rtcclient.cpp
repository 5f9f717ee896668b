#include "plugins/recorder/rtcclient.h"

namespace CVN {
namespace DiskRecorder {

RTCClient::RTCClient()
    : RpcServiceClient("RTC")
{
}

void RTCClient::setTime(std::uint32_t seconds, std::uint32_t second)
{
    callWithU32s(kSetTime, seconds, second);
}

} // namespace DiskRecorder
} // namespace CVN
