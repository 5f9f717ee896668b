#include "plugins/recorder/kestrelsettings.h"

#include "plugins/recorder/ikestrel.h"
#include "plugins/recorder/settingsblock.h"

using CVN::DiskRecorder::IKestrel;

namespace {

struct LegacyCodec
{
    std::uint32_t fourCC;
    std::uint32_t container;
    const char* label;
};

constexpr LegacyCodec kLegacyCodecs[KestrelSettings::kLegacyCodecCount] = {
    {fourCC("v210"), KestrelSettings::kContainerQuickTime, "Uncomp 10-bit"},
    {fourCC("apch"), KestrelSettings::kContainerQuickTime, "ProRes HQ"},
    {fourCC("apcn"), KestrelSettings::kContainerQuickTime, "ProRes"},
    {fourCC("apcs"), KestrelSettings::kContainerQuickTime, "ProRes LT"},
    {fourCC("apco"), KestrelSettings::kContainerQuickTime, "ProRes Proxy"},
    {fourCC("AVdn"), KestrelSettings::kContainerQuickTime, "DNxHD QT"},
    {fourCC("AVdn"), KestrelSettings::kContainerMXF, "DNxHD MXF"},
    {fourCC("AVdh"), KestrelSettings::kContainerQuickTime, "DNxHR QT"},
    {fourCC("AVdh"), KestrelSettings::kContainerMXF, "DNxHR MXF"},
};

const LegacyCodec& legacyRow(std::uint32_t legacyCodec)
{
    return kLegacyCodecs[legacyCodec < KestrelSettings::kLegacyCodecCount ? legacyCodec : 0];
}

std::uint32_t knownTrigger(std::uint32_t trigger)
{
    return trigger == KestrelSettings::kTriggerSdi ||
                   trigger == KestrelSettings::kTriggerTimecodeRun
               ? trigger
               : KestrelSettings::kTriggerNever;
}

constexpr std::uint32_t kProductPocket2 = 0xC35A;
constexpr std::uint32_t kProductBenchUHD = 0xC3A6;
constexpr std::uint32_t kTimecodeOn = 0x01000000; // first value byte 1, the rest 0

} // namespace

std::uint32_t KestrelSettings::legacyFourCC(std::uint32_t legacyCodec)
{
    return legacyRow(legacyCodec).fourCC;
}

std::uint32_t KestrelSettings::legacyContainer(std::uint32_t legacyCodec)
{
    return legacyRow(legacyCodec).container;
}

const char* KestrelSettings::legacyLabel(std::uint32_t legacyCodec)
{
    return legacyRow(legacyCodec).label;
}

bool KestrelSettings::isCodecSupported(std::uint32_t code, IKestrel& device)
{
    // Each query is a device transfer: ask only for what the codec's rule needs.
    auto hasCapability = [&device](std::uint32_t bit) {
        std::uint32_t capabilities = 0;
        return device.getCapabilities(capabilities) && (capabilities & bit);
    };
    auto productIs = [&device](std::uint16_t wanted) {
        std::uint16_t productId = 0;
        return device.getProductId(productId) && productId == wanted;
    };
    switch (code) {
    case fourCC("apch"):
    case fourCC("apcn"):
    case fourCC("apcs"):
    case fourCC("apco"):
        return hasCapability(CVN::DiskRecorder::kCapabilityProRes);
    case fourCC("AVdn"):
        return hasCapability(CVN::DiskRecorder::kCapabilityDNx);
    case fourCC("AVdh"):
        return productIs(kProductBenchUHD) && hasCapability(CVN::DiskRecorder::kCapabilityDNx);
    case fourCC("v210"):
        // On the Pocket 2, ProRes and uncompressed recording exclude each other.
        return !productIs(kProductPocket2) || !hasCapability(CVN::DiskRecorder::kCapabilityProRes);
    default:
        return false;
    }
}

bool KestrelSettings::toBlock(IKestrel& device, SettingsBlock& block) const
{
    if (!block.create(SettingsBlock::kMaxSize))
        return false;
    // A refused item leaves the device's own value in place; the block is still worth sending.
    if (device.isLegacy()) {
        block.addValue(kKeyCodec, legacyFourCC(legacyCodec));
        block.addValue(kKeyContainer, legacyContainer(legacyCodec));
        block.addValue(kKeyTimecodeOutput, timecodeOutput ? kTimecodeOn : 0);
    } else {
        block.addValue(kKeyCodec, codecIndex);
    }
    block.addValue(kKeyTrigger, knownTrigger(trigger));
    return true;
}

KestrelSettings KestrelSettings::fromBlock(const SettingsBlock& block, IKestrel& device)
{
    KestrelSettings settings;
    if (device.isLegacy()) {
        std::uint32_t codec = 0;
        const bool hasCodec = block.findValue(kKeyCodec, codec) && isCodecSupported(codec, device);
        std::uint32_t container = 0;
        block.findValue(kKeyContainer, container);
        const bool mxf = container == kContainerMXF;
        if (hasCodec) {
            switch (codec) {
            case fourCC("apch"):
                settings.legacyCodec = 1;
                break;
            case fourCC("apcn"):
                settings.legacyCodec = 2;
                break;
            case fourCC("apcs"):
                settings.legacyCodec = 3;
                break;
            case fourCC("apco"):
                settings.legacyCodec = 4;
                break;
            case fourCC("AVdn"):
                settings.legacyCodec = mxf ? 6 : 5;
                break;
            case fourCC("AVdh"):
                settings.legacyCodec = mxf ? 8 : 7;
                break;
            default:
                settings.legacyCodec = 0;
                break;
            }
        }
        std::uint32_t timecode = 0;
        settings.timecodeOutput = block.findValue(kKeyTimecodeOutput, timecode) && (timecode >> 24);
    } else {
        block.findValue(kKeyCodec, settings.codecIndex);
        settings.timecodeOutput = true;
    }
    std::uint32_t trigger = 0;
    block.findValue(kKeyTrigger, trigger);
    settings.trigger = knownTrigger(trigger);
    return settings;
}
