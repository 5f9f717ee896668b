#pragma once

#include "plugins/recorder/fx2ramimagetable.h"
#include "plugins/recorder/loadethernetmfgsettings.h"
#include "usb/fx2/abstractusbdevice.h"

#include <cstdint>
#include <memory>

namespace CVN {
namespace USB {
class AtmelAT25HardwareAccess;
class NxpLpcHardwareAccess;
} // namespace USB

namespace DiskRecorder {

namespace Detail {
// Keeps a copy of the product row (and so its RAM image) for the device base, which is given
// a pointer to it; built first so the pointer is good while the base is constructed.
struct HeldProductRow
{
    explicit HeldProductRow(const Fx2RamImageRow* row);
    Fx2RamImageRow heldRow;
};
} // namespace Detail

// An FX2 recorder on the USB side: the controller's register file through vendor requests,
// settings and clock data over its two bulk pipes, and flash programming through the
// controller's hardware-access mode. Reference counted like its base.
class DiskRecorderInstance : private Detail::HeldProductRow,
                             public CVN::USB::AbstractUSBDevice,
                             public CVN::USB::LoadEthernetMfgSettings
{
public:
    static constexpr std::uint8_t kBulkOutPipe = 1;
    static constexpr std::uint8_t kBulkInPipe = 2;
    // Bytes the host takes from the bulk-in pipe per pipe selection.
    static constexpr std::uint32_t kInPacketSize = 64;
    static constexpr std::uint32_t kFlashBlockCount = 256;
    static constexpr std::uint32_t kEthernetBlock = 255;
    static constexpr std::uint32_t kEthernetAddress = 0xFF0000;

    DiskRecorderInstance(CVN::USB::IUSBDevice* device, const Fx2RamImageRow* row);
    ~DiskRecorderInstance() override;

    // The product table's factory; only ever given rows of an Fx2RamImageTable.
    static CVN::USB::AbstractUSBDevice* create(CVN::USB::IUSBDevice* device,
                                               const CVN::USB::USBProductEntry* entry);

    bool open() override;
    // A unit whose product has no RAM program shipped is left alone.
    bool loadRamFirmware() override;
    std::uint32_t eraseMethod() override { return 0; }
    std::uint32_t writeMethod() override { return 0; }
    // The flash page the controller takes per bulk packet.
    std::uint32_t flashPageSize() override;
    std::uint32_t flashBlockCount() override { return kFlashBlockCount; }
    // The controller's hardware-access mode for the program target: 0 the main flash, 1 the
    // second flash (its own mode on 0xC367 and 0xC3A3), 2 and 3 the further parts.
    bool hardwareAccessModeValue(std::uint8_t* value) override;

    bool load(const Record& settings) override;

    // Reads n bytes packet by packet from the bulk-in pipe. Fails on a packet shorter than the
    // bytes still expected from it; never writes more than n bytes.
    bool bulkRead(std::uint8_t* buffer, std::uint32_t n);
    // Writes n bytes in one transfer to the bulk-out pipe.
    bool bulkWrite(const std::uint8_t* data, std::uint32_t n);

    CVN::USB::AtmelAT25HardwareAccess* eepromAccess() const { return m_eepromAccess.get(); }
    CVN::USB::NxpLpcHardwareAccess* cpuAccess() const { return m_cpuAccess.get(); }

    static constexpr std::uint32_t kBulkTimeoutMs = 5000;

private:
    std::unique_ptr<CVN::USB::AtmelAT25HardwareAccess> m_eepromAccess;
    std::unique_ptr<CVN::USB::NxpLpcHardwareAccess> m_cpuAccess;
};

} // namespace DiskRecorder
} // namespace CVN
