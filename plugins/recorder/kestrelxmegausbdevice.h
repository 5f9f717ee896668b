#pragma once

#include "plugins/recorder/ikestreldrsettingsdevice.h"
#include "usb/xmega/qtxmegausbdevice.h"
#include "usb/xmega/xmegausbdevice.h"

#include <cstdint>
#include <memory>

namespace CVN {
namespace DiskRecorder {

// The recorder interface over an XMEGA mailbox recorder (0xC3A6): status and versions from
// the register file in the unit's memory window, settings and clock through the mailbox,
// firmware through the XMEGA's flash programming. Every operation first takes the unit's
// current device from the registry, so the object keeps working across re-enumeration.
class KestrelXmegaUSBDevice : public IKestrelDRSettingsDevice
{
public:
    using Handle = QtXmegaUSBDevice<XmegaUSBDevice>;

    enum MailboxCommand : std::uint32_t {
        kSetClock = 0,
        kReadSettingsStep = 1,
        kWriteSettingsStep = 2,
    };
    // Bytes one settings step carries at most, and the first-step flag of a write.
    static constexpr std::uint32_t kStepBytes = 3;
    static constexpr std::uint32_t kFirstWriteStep = 0x80;
    // Read steps in a row that may bring no byte before the read is given up.
    static constexpr int kEmptyReadSteps = 50;

    explicit KestrelXmegaUSBDevice(const Handle& handle);
    ~KestrelXmegaUSBDevice() override;

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

    const DeviceId& uniqueId() const { return m_handle.uniqueId(); }
    // The unit's device as the next operation will use it.
    std::shared_ptr<XmegaUSBDevice> currentDevice() { return m_handle.current(); }

    // How programFlash() tells its progress: busy (-1) and then the download's fraction, or
    // the erase over the first half and the download over the second.
    enum class FlashProgress { Download, EraseThenDownload };

    // The XMEGA flash programming, shared with the streaming recorder's flash images.
    static bool programFlash(XmegaUSBDevice& device, std::uint8_t target, std::uint32_t address,
                             const std::uint8_t* data, std::uint32_t size,
                             ProgressCallback progress, void* context,
                             FlashProgress style = FlashProgress::Download);

private:
    bool readStatus(std::uint8_t& status);

    Handle m_handle;
};

} // namespace DiskRecorder
} // namespace CVN
