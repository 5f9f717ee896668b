#include "plugins/deckcontroller/deviceaccessservice.h"

#include <algorithm>
#include <vector>

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
    return fieldText(kReleaseText, kReleaseTextSize);
}

std::string DeviceAccessService::unitName()
{
    return fieldText(kUnitName, kUnitNameSize);
}

std::string DeviceAccessService::fieldText(Method method, uint32_t size)
{
    std::vector<uint8_t> text(size, 0);
    VornOSRPC::RpcBuffer buffer;
    buffer.output = true;
    buffer.data = text.data();
    buffer.size = text.size();
    call(method, nullptr, 0, &buffer, 1);
    const auto end = std::find(text.begin(), text.end(), uint8_t(0));
    return std::string(text.begin(), end);
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
