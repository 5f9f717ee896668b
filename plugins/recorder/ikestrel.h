#pragma once

#include "plugins/recorder/idevice.h"

struct KestrelSettings;

namespace CVN {
namespace DiskRecorder {

// Program type byte of a firmware package entry; other values are refused by the updater.
enum class ProgramType : std::uint8_t {
    FlashImage = 0, // plain image written at an address into a target memory
    XmegaImage = 3, // the unit's XMEGA firmware, through its boot loader
};

// Progress of one program() call: 0.0 to 1.0, or -1.0 while the unit is busy and no
// fraction is known.
using ProgressCallback = void (*)(void* context, float fraction);

// Status byte bits of getCapabilities().
enum Capability : std::uint32_t {
    kCapabilityApplicationRunning = 0x01,
    kCapabilityBusy = 0x08,
    kCapabilityProRes = 0x10,
    kCapabilityDNx = 0x20,
    kCapabilitySettingsChanged = 0x40,
};

// A USB recorder of any generation. No operation throws: failures return false (or 0 for the
// two version queries).
class IKestrel : public IDevice
{
public:
    virtual bool getCapabilities(std::uint32_t& capabilities) = 0;
    virtual bool isFirmwareCurrent() = 0;
    virtual bool setCodecMode(std::uint32_t fourCC) = 0;
    virtual bool shouldProgramType3() = 0;
    virtual bool prepareForUpdate() = 0;
    // `progress` may be null.
    virtual bool program(ProgramType type, std::uint8_t target, std::uint32_t address,
                         const std::uint8_t* data, std::uint32_t size, ProgressCallback progress,
                         void* context) = 0;
    virtual bool rebootAfterUpdate() = 0;
    virtual bool isBusy(bool& busy) = 0;
    virtual unsigned fpgaVersion() = 0;
    virtual std::uint32_t cpuChecksum() = 0;
    // Seconds since 1970-01-01 00:00 UTC, truncated to 32 bits.
    virtual bool setClock(std::uint32_t time) = 0;
    virtual bool readSettings(KestrelSettings& settings) = 0;
    virtual bool writeSettings(const KestrelSettings& settings) = 0;
    // The unit's settings changed since they were last read.
    virtual bool settingsChanged() = 0;
};

} // namespace DiskRecorder
} // namespace CVN
