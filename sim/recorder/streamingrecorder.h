#pragma once

#include "sim/recorder/strictstreamlink.h"
#include "sim/xmega/xmegaunit.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Sim {

// A streaming recorder (product 0xC3E4): the XMEGA unit model with the recorder's RPC
// services and their state, behind a stream link as strict as a real unit's (see
// StrictStreamLink; on by default).
// - "SettingsFinch": methods 2 (u8), 4, 6, 8 (u32) read the network values of interface 0.
// - "NetConfig": methods 12 (u32 interface, u8), 14, 16, 18 (u32 interface, u32) write them.
// - "RTC": method 0 (u32 seconds, u32 second word) sets the clock.
// - "Version": method 0 fills the 10-byte output buffer with the text for the name in the
//   input buffer (zero-padded, cut at 10 bytes); method 1 the number for the name; method 10
//   the FPGA version.
// - "KestrelTransport": 100 the codec name in a 64-byte buffer; 103 the container; 104 (u8
//   container, name buffer) selects, answering u32 0, or 1 for a name the unit does not
//   know; 1010 sets and 1011 reads the trigger.
// Unknown methods answer 1. A reboot from the boot loader into the application (new
// firmware) brings back the factory network values.
class StreamingRecorder : public XmegaUnit
{
public:
    static constexpr uint16_t kProductId = 0xC3E4;
    static constexpr int32_t kUnknownMethod = 1;

    struct Network
    {
        uint8_t value0 = 1;
        uint32_t value1 = 0xC0A80064;
        uint32_t value2 = 0xFFFFFF00;
        uint32_t value3 = 0xC0A80001;
        bool operator==(const Network& o) const
        {
            return value0 == o.value0 && value1 == o.value1 && value2 == o.value2 &&
                   value3 == o.value3;
        }
    };
    struct Transport
    {
        std::string codecName = "ProRes:HQ";
        uint8_t container = 2;
        uint32_t trigger = 0;
    };

    explicit StreamingRecorder(Options options = defaultOptions());
    static Options defaultOptions();

    void control(const TransferPtr& transfer) override;

    StrictStreamLink& link() { return m_link; }

    Network network() const;
    void setNetwork(const Network& network);
    Transport transport() const;
    // The codec name as the unit holds it, whatever its length.
    void setTransport(const Transport& transport);
    void setVersions(const std::string& softwareText, uint32_t cpuVersion, uint8_t fpgaVersion);
    // The versions reported once new firmware has been written and the unit has restarted into
    // it (unset: what it reported before).
    void setVersionsAfterInstall(const std::string& softwareText, uint32_t cpuVersion,
                                 uint8_t fpgaVersion);
    // {seconds, second word} of the last clock setting.
    std::pair<uint32_t, uint32_t> clock() const;

    // Faults: opens of the service are refused; a method answers status instead of running.
    void refuseService(const std::string& name, bool refuse = true);
    void failCall(const std::string& service, uint32_t method, int32_t status);
    // Calls the services took, as {service, method}.
    std::vector<std::pair<std::string, uint32_t>> serviceCalls() const;

protected:
    void startedNewFirmware() override;

private:
    struct Versions
    {
        std::string softwareText;
        uint32_t cpuVersion = 0;
        uint8_t fpgaVersion = 0;
    };

    void addServices();
    // Runs under m_mutex; answers the method's status.
    int32_t settingsFinch(const RpcCall& call, std::vector<uint8_t>* payload);
    int32_t netConfig(const RpcCall& call, std::vector<uint8_t>* payload);
    int32_t rtc(const RpcCall& call, std::vector<uint8_t>* payload);
    int32_t version(const RpcCall& call, std::vector<uint8_t>* payload);
    int32_t kestrelTransport(const RpcCall& call, std::vector<uint8_t>* payload);

    StrictStreamLink m_link;
    mutable std::mutex m_mutex;
    Network m_network;
    std::map<uint32_t, Network> m_otherInterfaces;
    Transport m_transport;
    std::string m_softwareText = "4.2.0";
    uint32_t m_cpuVersion = 0x1633975A;
    uint8_t m_fpgaVersion = 0x11;
    std::optional<Versions> m_versionsAfterInstall;
    std::pair<uint32_t, uint32_t> m_clock{0, 0};
    std::map<std::pair<std::string, uint32_t>, int32_t> m_failures;
    std::vector<std::pair<std::string, uint32_t>> m_calls;
};

} // namespace Sim
