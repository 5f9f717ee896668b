#pragma once

#include "plugins/recorder/ikestrel.h"
#include "usb/xmega/qtxmegausbdevice.h"
#include "usb/xmega/streamingxmegausbdevice.h"
#include "usb/driver/waitclock.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace VornOSRPC {
class StreamingRpcDevice;
} // namespace VornOSRPC

namespace CVN {
namespace DiskRecorder {

// The recorder interface over a streaming recorder (0xC3E4, 0xBE0F): versions, settings,
// clock and network configuration through the unit's RPC services; firmware through the
// XMEGA boot loader (XMEGA images) or the XMEGA's flash programming (flash images). Every
// operation first takes the unit's current device from the registry, so the object keeps
// working across re-enumeration. Service failures read as false; only isConnected() lets
// VornOSRPC::IncompatiableProtocolException through, for a unit that needs new firmware.
class KestrelXmegaStreamingUSBDevice : public IKestrel
{
public:
    using Handle = QtXmegaUSBDevice<StreamingXmegaUSBDevice>;

    struct Codec
    {
        const char* name;
        std::uint8_t container;
    };
    // Rows of the codec table; codecIndex() answers this for a pair it does not hold.
    static constexpr std::uint32_t kCodecCount = 19;
    static constexpr std::uint32_t kServiceTimeoutMs = 1000;
    static constexpr int kDownloadAttempts = 3;
    static constexpr std::uint32_t kExpectedXmegaChecksum = 0xCC7FF2DD;
    static constexpr const char* kAppsVersionName = "/sys/apps";

    explicit KestrelXmegaStreamingUSBDevice(const Handle& handle);
    ~KestrelXmegaStreamingUSBDevice() override;

    bool isConnected() override;
    bool getProductId(std::uint16_t& productId) override;
    void getName(std::string& name) override;
    bool getCapabilities(std::uint32_t& capabilities) override;
    bool isFirmwareCurrent() override;
    bool setCodecMode(std::uint32_t fourCC) override;
    bool shouldProgramType3() override;
    bool prepareForUpdate() override;
    bool program(ProgramType type, std::uint8_t target, std::uint32_t address,
                 const std::uint8_t* data, std::uint32_t size, ProgressCallback progress,
                 void* context) override;
    bool rebootAfterUpdate() override;
    bool isBusy(bool& busy) override;
    unsigned fpgaVersion() override;
    std::uint32_t cpuChecksum() override;
    bool setClock(std::uint32_t time) override;
    bool readSettings(KestrelSettings& settings) override;
    bool writeSettings(const KestrelSettings& settings) override;
    bool settingsChanged() override;
    bool getSoftwareVersion(std::string& version);

    static const Codec& codec(std::uint32_t index);
    static std::uint32_t codecIndex(const std::string& name, std::uint8_t container);

    const DeviceId& uniqueId() const { return m_handle.uniqueId(); }
    std::shared_ptr<StreamingXmegaUSBDevice> currentDevice() { return m_handle.current(); }
    // Tests shorten the pauses of the RPC layer; the product keeps the system clock.
    void setClock(std::shared_ptr<CVN::USB::WaitClock> clock);

private:
    std::shared_ptr<VornOSRPC::StreamingRpcDevice> rpc();
    bool fillVersionCache();
    void invalidateVersionCache();
    bool xmegaChecksumsCurrent();

    Handle m_handle;
    // Guards everything below: the object is used from the GUI and the updater thread.
    mutable std::mutex m_mutex;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
    std::uint8_t m_fpgaVersion = 0;
    std::uint32_t m_cpuVersion = 0;
    std::string m_softwareVersion;
    bool m_versionCached = false;
    std::uint8_t m_netValue0 = 0;
    std::uint32_t m_netValue1 = 0;
    std::uint32_t m_netValue2 = 0;
    std::uint32_t m_netValue3 = 0;
    bool m_netSaved = false;
};

} // namespace DiskRecorder
} // namespace CVN
