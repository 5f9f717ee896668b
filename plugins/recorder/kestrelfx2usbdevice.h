#pragma once

#include "plugins/recorder/ikestreldrsettingsdevice.h"

#include <cstdint>

namespace CVN {
namespace DiskRecorder {

class DiskRecorderInstance;

// The recorder interface over an FX2 recorder: status and versions from the controller's
// register file, settings and clock through the register-3 handshake and the bulk pipes.
class KestrelFX2USBDevice : public IKestrelDRSettingsDevice
{
public:
    // Registers of the controller firmware.
    enum Register : std::uint8_t {
        kFpgaVersionRegister = 1,
        kStatusRegister = 2,
        kCommandRegister = 3,
        kChecksumRegister = 8, // 8 to 11, least significant first
    };
    // Commands written to the command register.
    enum Command : std::uint8_t {
        kIdle = 0x00,
        kNextReadChunk = 0x01,
        kNextWriteChunk = 0x41,
        kSetClock = 0x42,
        kFirstReadChunk = 0x81,
        kFirstWriteChunk = 0xC1,
    };
    // Set in the command register while the unit is still taking the host's data.
    static constexpr std::uint8_t kHostDataPending = 0x40;
    static constexpr std::uint32_t kChunkSize = 512;
    static constexpr int kChunkTakenPolls = 100;
    static constexpr std::uint32_t kChunkTakenPollMs = 10;
    static constexpr int kClockTakenPolls = 100;
    static constexpr std::uint32_t kClockTakenPollMs = 5;
    static constexpr std::uint32_t kProgramChunk = 65536;

    // Takes its own reference on the instance.
    explicit KestrelFX2USBDevice(DiskRecorderInstance* instance);
    ~KestrelFX2USBDevice() override;

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
    bool settingsChanged() override;
    bool readSettingsBlock(std::unique_ptr<SettingsBlock>& block) override;
    bool writeSettingsBlock(const SettingsBlock* block) override;

    DiskRecorderInstance* instance() const { return m_instance; }

private:
    bool readStatus(std::uint8_t& status);
    // Polls the command register until the unit has taken the host's data: 1 taken, 0 still
    // pending after the last poll, -1 a failed read.
    int pollDataTaken(int polls, std::uint32_t intervalMs);

    DiskRecorderInstance* m_instance;
};

} // namespace DiskRecorder
} // namespace CVN
