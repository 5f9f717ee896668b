#include "plugins/recorder/settingsfinchclient.h"

namespace CVN {
namespace DiskRecorder {

SettingsFinchClient::SettingsFinchClient()
    : RpcServiceClient("SettingsFinch")
{
}

std::uint8_t SettingsFinchClient::readValue0()
{
    return callForU8(kReadValue0);
}

std::uint32_t SettingsFinchClient::readValue1()
{
    return callForU32(kReadValue1);
}

std::uint32_t SettingsFinchClient::readValue2()
{
    return callForU32(kReadValue2);
}

std::uint32_t SettingsFinchClient::readValue3()
{
    return callForU32(kReadValue3);
}

} // namespace DiskRecorder
} // namespace CVN
