#include "plugins/recorder/diskrecorderinstance.h"

#include "usb/fx2/atmelat25hardwareaccess.h"
#include "usb/driver/iusbinterface.h"
#include "usb/fx2/nxplpchardwareaccess.h"

#include <algorithm>
#include <cstring>

namespace CVN {
namespace DiskRecorder {

namespace {

// The larger models: 256-byte flash packets and an Ethernet port.
bool hasWidePackets(std::uint16_t productId)
{
    return productId == 0xC34D || productId == 0xC367 || productId == 0xC3A3;
}

} // namespace

Detail::HeldProductRow::HeldProductRow(const Fx2RamImageRow* row)
{
    if (row)
        heldRow = *row;
}

DiskRecorderInstance::DiskRecorderInstance(CVN::USB::IUSBDevice* device, const Fx2RamImageRow* row)
    : HeldProductRow(row)
    , AbstractUSBDevice(device, &heldRow)
    , m_eepromAccess(new CVN::USB::AtmelAT25HardwareAccess(this))
    , m_cpuAccess(new CVN::USB::NxpLpcHardwareAccess(this))
{
}

DiskRecorderInstance::~DiskRecorderInstance() = default;

CVN::USB::AbstractUSBDevice* DiskRecorderInstance::create(CVN::USB::IUSBDevice* device,
                                                          const CVN::USB::USBProductEntry* entry)
{
    return new DiskRecorderInstance(device, static_cast<const Fx2RamImageRow*>(entry));
}

bool DiskRecorderInstance::open()
{
    if (!AbstractUSBDevice::open())
        return false;
    CVN::USB::IUSBInterface* interface = dataInterface();
    std::uint8_t count = 0;
    if (!interface || interface->GetNumEndpoints(&count) != CVN::USB::kCVNUsbSuccess)
        return false;
    struct Expected
    {
        std::uint8_t pipe;
        std::uint8_t direction;
    };
    for (const Expected& expected : {Expected{kBulkOutPipe, 0}, Expected{kBulkInPipe, 1}}) {
        std::uint8_t direction = 0, type = 0, interval = 0;
        std::uint16_t maxPacket = 0;
        if (interface->GetPipeProperties(expected.pipe, &direction, &type, &maxPacket, &interval) !=
                CVN::USB::kCVNUsbSuccess ||
            direction != expected.direction || type != 2 ||
            interface->resetPipe(expected.pipe) != CVN::USB::kCVNUsbSuccess)
            return false;
    }
    return kBulkOutPipe <= count && kBulkInPipe <= count;
}

bool DiskRecorderInstance::loadRamFirmware()
{
    if (!heldRow.image || heldRow.image->empty())
        return false;
    return AbstractUSBDevice::loadRamFirmware();
}

std::uint32_t DiskRecorderInstance::flashPageSize()
{
    std::uint16_t pid = 0;
    return productId(&pid) && hasWidePackets(pid) ? 256 : 64;
}

bool DiskRecorderInstance::hardwareAccessModeValue(std::uint8_t* value)
{
    std::uint8_t target = 0;
    if (!value || !hardwareTarget(&target))
        return false;
    switch (target) {
    case 0:
        *value = 1;
        return true;
    case 1: {
        std::uint16_t pid = 0;
        if (!productId(&pid))
            return false;
        if (pid == 0xC34C || pid == 0xC34D || pid == 0xC35A)
            *value = 1;
        else if (pid == 0xC367 || pid == 0xC3A3)
            *value = 2;
        return true;
    }
    case 2:
        *value = 3;
        return true;
    case 3:
        *value = 4;
        return true;
    default:
        return false;
    }
}

bool DiskRecorderInstance::load(const Record& settings)
{
    std::uint16_t pid = 0;
    if (!productId(&pid))
        return false;
    if (!hasWidePackets(pid))
        return true;
    // The record's block is erased first; the write goes to the block's start.
    if (!enterHardwareAccess(kEthernetAddress))
        return false;
    const bool written = selectDataPath(1, 0) && eraseFlashBlock(kEthernetBlock) &&
                         writeFlashData(settings.data(), std::uint32_t(settings.size()));
    const bool left = leaveHardwareAccess();
    return written && left;
}

bool DiskRecorderInstance::bulkRead(std::uint8_t* buffer, std::uint32_t n)
{
    CVN::USB::IUSBInterface* interface = dataInterface();
    if (!buffer || n == 0 || !interface)
        return false;
    std::uint8_t packet[kInPacketSize];
    bool ok = true;
    for (std::uint32_t done = 0; ok && done < n;) {
        const std::uint32_t expected = std::min(kInPacketSize, n - done);
        std::uint32_t got = kInPacketSize;
        ok = selectDataPath(0, done == 0 ? 1 : 2) &&
             interface->readPipe(kBulkInPipe, packet, &got, kBulkTimeoutMs, kBulkTimeoutMs) ==
                 CVN::USB::kCVNUsbSuccess &&
             got >= expected && got <= kInPacketSize;
        if (ok) {
            std::memcpy(buffer + done, packet, expected);
            done += expected;
        }
    }
    selectDataPath(0xFF, 0xFF);
    return ok;
}

bool DiskRecorderInstance::bulkWrite(const std::uint8_t* data, std::uint32_t n)
{
    CVN::USB::IUSBInterface* interface = dataInterface();
    if (!data || n == 0 || !interface)
        return false;
    selectDataPath(0, 0);
    const bool written = interface->writePipe(kBulkOutPipe, data, n, kBulkTimeoutMs,
                                              kBulkTimeoutMs) == CVN::USB::kCVNUsbSuccess;
    selectDataPath(0xFF, 0xFF);
    return written;
}

} // namespace DiskRecorder
} // namespace CVN
