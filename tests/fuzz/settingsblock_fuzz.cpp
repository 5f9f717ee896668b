// Feeds arbitrary bytes to the settings block checks and to the record parser, the way a
// recorder's reply reaches them.
#include "plugins/recorder/ikestreldrsettingsdevice.h"
#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/settingsblock.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A unit whose product id and capabilities come from the input's first bytes.
class InputKestrel : public CVN::DiskRecorder::IKestrelDRSettingsDevice
{
public:
    InputKestrel(std::uint16_t productId, std::uint8_t capabilities)
        : m_productId(productId)
        , m_capabilities(capabilities)
    {
    }
    bool isConnected() override { return true; }
    bool getProductId(std::uint16_t& id) override
    {
        id = m_productId;
        return true;
    }
    void getName(std::string&) override {}
    bool getCapabilities(std::uint32_t& caps) override
    {
        caps = m_capabilities;
        return (m_capabilities & 0x80) == 0;
    }
    bool isFirmwareCurrent() override { return true; }
    bool setCodecMode(std::uint32_t) override { return true; }
    bool shouldProgramType3() override { return false; }
    bool prepareForUpdate() override { return true; }
    bool program(CVN::DiskRecorder::ProgramType, std::uint8_t, std::uint32_t, const std::uint8_t*,
                 std::uint32_t, CVN::DiskRecorder::ProgressCallback, void*) override
    {
        return false;
    }
    bool rebootAfterUpdate() override { return true; }
    bool isBusy(bool& busy) override
    {
        busy = false;
        return true;
    }
    unsigned fpgaVersion() override { return 0; }
    std::uint32_t cpuChecksum() override { return 0; }
    bool setClock(std::uint32_t) override { return true; }
    bool settingsChanged() override { return false; }
    bool readSettingsBlock(std::unique_ptr<SettingsBlock>&) override { return false; }
    bool writeSettingsBlock(const SettingsBlock* block) override { return block != nullptr; }

private:
    std::uint16_t m_productId;
    std::uint8_t m_capabilities;
};

constexpr std::uint16_t kProducts[] = {0xC34C, 0xC35A, 0xC367, 0xC3A3,
                                       0xC34D, 0xC3A6, 0xC3E4, 0xBE0F};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    InputKestrel device(kProducts[data[0] & 7], std::uint8_t(data[0] & 0xB8));
    // An exactly sized copy: a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data + 1, data + size);

    SettingsBlock::isValidHeader(bytes.data(), bytes.size());
    const bool itemsOk = SettingsBlock::checkItems(bytes.data(), bytes.size());

    SettingsBlock block;
    if (!block.load(bytes.data(), bytes.size())) {
        if (itemsOk)
            __builtin_trap(); // checked items imply a loadable block
        return 0;
    }
    KestrelSettings settings = KestrelSettings::fromBlock(block, device);
    if (settings.trigger > KestrelSettings::kTriggerTimecodeRun ||
        settings.legacyCodec >= KestrelSettings::kLegacyCodecCount)
        __builtin_trap();

    // Appending to whatever was loaded stays inside the buffer.
    block.addValue(0xFEEDF00D, 0x12345678);

    // The record survives a trip through a freshly built block.
    SettingsBlock rebuilt;
    if (settings.toBlock(device, rebuilt)) {
        if (!SettingsBlock::checkItems(rebuilt.data(), rebuilt.totalLength()))
            __builtin_trap();
        if (KestrelSettings::fromBlock(rebuilt, device) != settings)
            __builtin_trap();
        std::uint32_t value = 0;
        if (!rebuilt.addValue(0xFEEDF00D, 0x12345678) || !rebuilt.findValue(0xFEEDF00D, value) ||
            value != 0x12345678)
            __builtin_trap();
    }
    return 0;
}
