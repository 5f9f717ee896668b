#include "plugins/recorder/kestreltransportclient.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"

namespace CVN {
namespace DiskRecorder {

KestrelTransportClient::KestrelTransportClient()
    : RpcServiceClient("KestrelTransport")
{
}

std::string KestrelTransportClient::codecName()
{
    std::uint8_t name[kCodecNameBytes] = {};
    VornOSRPC::RpcBuffer buffer;
    buffer.output = true;
    buffer.data = name;
    buffer.size = sizeof name;
    call(kCodecName, nullptr, 0, nullptr, 0, &buffer, 1);
    return textOf(name, sizeof name);
}

std::uint8_t KestrelTransportClient::container()
{
    return callForU8(kContainer);
}

std::uint32_t KestrelTransportClient::selectCodec(const std::string& codecName,
                                                  std::uint8_t container)
{
    std::uint8_t result[4] = {};
    VornOSRPC::RpcBuffer buffer = inputText(codecName);
    call(kSelectCodec, &container, 1, result, sizeof result, &buffer, 1);
    std::uint32_t value = 0;
    Platform::ByteReader(result, sizeof result).u32(0, &value);
    return value;
}

void KestrelTransportClient::setTrigger(std::uint32_t trigger)
{
    std::uint8_t in[4] = {};
    Platform::ByteWriter(in, sizeof in).u32(0, trigger);
    call(kSetTrigger, in, sizeof in, nullptr, 0);
}

std::uint32_t KestrelTransportClient::trigger()
{
    return callForU32(kTrigger);
}

} // namespace DiskRecorder
} // namespace CVN
