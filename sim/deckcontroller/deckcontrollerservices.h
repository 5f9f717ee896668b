#pragma once

#include "sim/xmega/xmegarpcserver.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace Sim {

// The deck controller's "DeviceAccess" and "Settings" services and the state behind them.
//
// "DeviceAccess": method 0 the application state (1 byte), 1 the FPGA version (u32), 2 the
// release text (into an 8-byte output buffer), 3 the CPU checksum (u32), 6 set the unit name
// (from an input buffer), 7 the unit name (into a 63-byte output buffer); other methods answer
// kUnknownMethod. "Settings": method 0 saves the unit name to the unit's storage.
class DeckControllerServices
{
public:
    static constexpr int32_t kUnknownMethod = 1;
    // A name longer than the unit's field is refused.
    static constexpr int32_t kNameTooLong = 22;
    static constexpr size_t kNameField = 63;
    static constexpr size_t kReleaseField = 8;

    struct State
    {
        uint8_t applicationState = 3;
        uint32_t fpgaVersion = 0;
        uint32_t cpuChecksum = 0xC0FB1F17;
        std::string releaseText = "7.1";
        std::string unitName = "Alder";
        std::string savedUnitName = "Alder";
        int saves = 0;
    };

    // Plugs both services into server; they keep a reference to this object.
    void install(XmegaRpcServer& server);

    State state() const;
    void setState(const State& state);

private:
    int32_t deviceAccess(const RpcCall& call, std::vector<uint8_t>* payload);
    int32_t settings(const RpcCall& call, std::vector<uint8_t>* payload);

    mutable std::mutex m_mutex;
    State m_state;
};

} // namespace Sim
