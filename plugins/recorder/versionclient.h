#pragma once

#include "plugins/recorder/rpcserviceclient.h"

namespace CVN {
namespace DiskRecorder {

// The recorder's "Version" service: version texts and numbers of its parts, by name.
class VersionClient : public RpcServiceClient
{
public:
    enum Method : std::uint32_t {
        kVersionText = 0,
        kVersionNumber = 1,
        kFpgaVersion = 10,
    };
    // Bytes the unit fills with a version text; a text without a zero byte is cut there.
    static constexpr std::uint32_t kTextBytes = 10;

    VersionClient();

    std::string versionText(const std::string& name);
    std::uint32_t versionNumber(const std::string& name);
    std::uint32_t fpgaVersion();
};

} // namespace DiskRecorder
} // namespace CVN
