#pragma once

#include <cstdint>

class SettingsBlock;

namespace CVN {
namespace DiskRecorder {
class IKestrel;
} // namespace DiskRecorder
} // namespace CVN

// A FourCC as a value whose big-endian bytes are the four characters in reading order.
constexpr std::uint32_t fourCC(const char (&code)[5])
{
    return std::uint32_t(std::uint8_t(code[0])) << 24 | std::uint32_t(std::uint8_t(code[1])) << 16 |
           std::uint32_t(std::uint8_t(code[2])) << 8 | std::uint32_t(std::uint8_t(code[3]));
}

// The recorder's recording settings, and how they travel in a settings block.
struct KestrelSettings
{
    enum Key : std::uint32_t {
        kKeyCodec = 0xC3010001,
        kKeyContainer = 0xC3010002,
        kKeyTimecodeOutput = 0xC3010004,
        kKeyTrigger = 0xC3010005,
    };
    enum Container : std::uint32_t { kContainerQuickTime = 1, kContainerMXF = 2 };
    enum Trigger : std::uint32_t { kTriggerNever = 0, kTriggerSdi = 1, kTriggerTimecodeRun = 2 };
    static constexpr std::uint32_t kLegacyCodecCount = 9;

    std::uint32_t legacyCodec = 0; // legacy devices: row of the legacy codec table
    std::uint32_t codecIndex = 0;  // other devices: index into the device's own codec list
    bool timecodeOutput = false;
    std::uint32_t trigger = kTriggerNever;

    bool operator==(const KestrelSettings& other) const
    {
        return legacyCodec == other.legacyCodec && codecIndex == other.codecIndex &&
               timecodeOutput == other.timecodeOutput && trigger == other.trigger;
    }
    bool operator!=(const KestrelSettings& other) const { return !(*this == other); }

    // Legacy codec table; a row outside it stands for uncompressed in QuickTime.
    static std::uint32_t legacyFourCC(std::uint32_t legacyCodec);
    static std::uint32_t legacyContainer(std::uint32_t legacyCodec);
    static const char* legacyLabel(std::uint32_t legacyCodec);

    // Whether `device` records the codec, by its product id and capability bits.
    static bool isCodecSupported(std::uint32_t fourCC, CVN::DiskRecorder::IKestrel& device);

    // Replaces `block` with the block for this record on `device`; false when it cannot be made.
    bool toBlock(CVN::DiskRecorder::IKestrel& device, SettingsBlock& block) const;
    // The record a block holds for `device`; what the block does not carry reads as 0.
    static KestrelSettings fromBlock(const SettingsBlock& block,
                                     CVN::DiskRecorder::IKestrel& device);
};
