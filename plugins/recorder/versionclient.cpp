#include "plugins/recorder/versionclient.h"

namespace CVN {
namespace DiskRecorder {

VersionClient::VersionClient()
    : RpcServiceClient("Version")
{
}

std::string VersionClient::versionText(const std::string& name)
{
    std::uint8_t text[kTextBytes] = {};
    VornOSRPC::RpcBuffer buffers[2];
    buffers[0].output = true;
    buffers[0].data = text;
    buffers[0].size = sizeof text;
    buffers[1] = inputText(name);
    call(kVersionText, nullptr, 0, nullptr, 0, buffers, 2);
    return textOf(text, sizeof text);
}

std::uint32_t VersionClient::versionNumber(const std::string& name)
{
    VornOSRPC::RpcBuffer buffer = inputText(name);
    return callForU32(kVersionNumber, &buffer, 1);
}

std::uint32_t VersionClient::fpgaVersion()
{
    return callForU32(kFpgaVersion);
}

} // namespace DiskRecorder
} // namespace CVN
