#pragma once

#include "plugins/deckcontroller/deckcontrollerservice.h"

#include <cstdint>
#include <string>

// The unit's "DeviceAccess" service: its state, versions, checksums and its name.
class DeviceAccessService : public DeckControllerService
{
public:
    enum Method : uint32_t {
        kApplicationState = 0,
        kFpgaVersion = 1,
        kReleaseText = 2,
        kCpuChecksum = 3,
        kSetUnitName = 6,
        kUnitName = 7,
    };
    static constexpr uint32_t kReleaseTextSize = 8;
    static constexpr uint32_t kUnitNameSize = 63;

    DeviceAccessService();

    uint8_t applicationState();
    uint32_t fpgaVersion();
    uint32_t cpuChecksum();
    // Up to the first NUL of the unit's fixed-size fields.
    std::string releaseText();
    std::string unitName();
    void setUnitName(const std::string& name);

private:
    // A text field of the unit: up to its first NUL, at most size bytes.
    std::string fieldText(Method method, uint32_t size);
};
