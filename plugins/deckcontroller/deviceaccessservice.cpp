#include "plugins/deckcontroller/deviceaccessservice.h"

#include <algorithm>
#include <vector>

namespace {

std::string textUpToNul(const std::vector<uint8_t>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    return std::string(bytes.begin(), end);
}

} // namespace

DeviceAccessService::DeviceAccessService()
    : DeckControllerService("DeviceAccess")
{
}

uint8_t DeviceAccessService::applicationState()
{
    uint8_t state = 0;
    call(kApplicationState, &state, 1);
    return state;
}

uint32_t DeviceAccessService::fpgaVersion()
{
    return callWord(kFpgaVersion);
}

uint32_t DeviceAccessService::cpuChecksum()
{
    return callWord(kCpuChecksum);
}

std::string DeviceAccessService::releaseText()
{
    std::vector<uint8_t> text(kReleaseTextSize, 0);
    VornOSRPC::RpcBuffer buffer;
    buffer.output = true;
    buffer.data = text.data();
    buffer.size = text.size();
    call(kReleaseText, nullptr, 0, &buffer, 1);
    return textUpToNul(text);
}

std::string DeviceAccessService::unitName()
{
    std::vector<uint8_t> name(kUnitNameSize, 0);
    VornOSRPC::RpcBuffer buffer;
    buffer.output = true;
    buffer.data = name.data();
    buffer.size = name.size();
    call(kUnitName, nullptr, 0, &buffer, 1);
    return textUpToNul(name);
}

void DeviceAccessService::setUnitName(const std::string& name)
{
    std::vector<uint8_t> bytes(name.begin(), name.end());
    VornOSRPC::RpcBuffer buffer;
    buffer.input = true;
    buffer.data = bytes.data();
    buffer.size = bytes.size();
    call(kSetUnitName, nullptr, 0, &buffer, 1);
}
