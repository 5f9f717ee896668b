#include "usb/fx2/abstractusbdevice.h"

#include "usb/driver/findinterfacerequest.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"
#include "usb/driver/iusbinterfaceiterator.h"
#include "usb/fx2/bridgerequest.h"
#include "usb/fx2/fx2firmwareimage.h"
#include "usb/fx2/usbfx2log.h"
#include "usb/fx2/usbproductentry.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace CVN {
namespace USB {

namespace {

enum : uint8_t {
    kRequestWriteRam = 0xA0,
    kRequestSelectDataPath = 0xD2,
    kRequestWriteEeprom = 0xD3,
    kRequestReadEeprom = 0xD4,
    kRequestVendorByteD5 = 0xD5,
    kRequestReadRegister = 0xD6,
    kRequestWriteRegister = 0xD7,
    kRequestEnterHardwareAccess = 0xDB,
    kRequestLeaveHardwareAccess = 0xDC,
    kRequestFlashAddress = 0xDE,
    kRequestFlashReady = 0xDF,
    kRequestEraseBlock = 0xE0,
    kRequestVendorByteE1 = 0xE1,
};

constexpr uint32_t kEepromSize = 0x10000; // 16-bit EEPROM addresses
constexpr uint8_t kBootImageClosing[5] = {0x80, 0x01, 0xE6, 0x00, 0x00};

// Writes the low `width` bytes of address most significant first.
void putBigEndian(uint8_t* out, uint64_t address, uint8_t width)
{
    for (uint8_t i = 0; i < width; ++i) {
        const unsigned shift = 8u * (width - 1u - i);
        out[i] = shift < 64 ? uint8_t(address >> shift) : 0;
    }
}

// A page buffer of a size the product chose; false when there is no memory for it.
bool allocate(std::vector<uint8_t>* buffer, size_t size)
{
    try {
        buffer->resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

AbstractUSBDevice::AbstractUSBDevice(IUSBDevice* device, const USBProductEntry* entry)
    : m_entry(entry)
    , m_device(device)
{
    if (m_device)
        m_device->AddRef();
}

AbstractUSBDevice::~AbstractUSBDevice()
{
    releaseInterface();
    if (m_device) {
        if (m_deviceOpened)
            m_device->close();
        m_device->Release();
    }
}

uint32_t AbstractUSBDevice::AddRef()
{
    return ++m_refs;
}

uint32_t AbstractUSBDevice::Release()
{
    const uint32_t count = --m_refs;
    if (count == 0)
        delete this;
    return count;
}

void AbstractUSBDevice::setClock(std::shared_ptr<WaitClock> clock)
{
    m_clock = clock ? std::move(clock) : WaitClock::system();
}

bool AbstractUSBDevice::vendorIn(uint8_t request, uint16_t value, uint16_t index, void* data,
                                 uint16_t length)
{
    return sendVendorRequest(m_device, true, request, value, index, data, length, kRequestTimeout,
                             kRequestTimeout);
}

bool AbstractUSBDevice::vendorOut(uint8_t request, uint16_t value, uint16_t index, const void* data,
                                  uint16_t length)
{
    return sendVendorRequest(m_device, false, request, value, index, data, length, kRequestTimeout,
                             kRequestTimeout);
}

bool AbstractUSBDevice::open()
{
    bool needed = false;
    if (!needsRamFirmware(&needed))
        return giveUp();
    if (needed) {
        // The controller restarts with the new firmware and arrives again as a new device.
        loadRamFirmware();
        return giveUp();
    }
    if (openDataInterface())
        return true;
    return giveUp();
}

bool AbstractUSBDevice::giveUp()
{
    if (!m_device)
        return false;
    releaseInterface();
    if (m_deviceOpened) {
        m_device->close();
        m_deviceOpened = 0;
    }
    m_device->Release();
    m_device = nullptr;
    return false;
}

void AbstractUSBDevice::releaseInterface()
{
    if (!m_interface)
        return;
    m_interface->unregisterForAsyncEvents();
    m_interface->Release();
    m_interface = nullptr;
}

bool AbstractUSBDevice::readVendorByteE1(uint8_t* value)
{
    return value && vendorIn(kRequestVendorByteE1, 0, 0, value, 1);
}

bool AbstractUSBDevice::readVendorByteD5(uint8_t* value)
{
    return value && vendorIn(kRequestVendorByteD5, 0, 0, value, 1);
}

bool AbstractUSBDevice::unsupportedProperty8()
{
    return m_device && m_device->unsupportedProperty8() == kCVNUsbSuccess;
}

bool AbstractUSBDevice::unsupportedProperty11()
{
    return m_device && m_device->unsupportedProperty11() == kCVNUsbSuccess;
}

bool AbstractUSBDevice::readRegister0(uint8_t* value)
{
    return readRegister(0, value);
}

bool AbstractUSBDevice::productId(uint16_t* value)
{
    return m_device && m_device->productId(value) == kCVNUsbSuccess;
}

bool AbstractUSBDevice::vendorId(uint16_t* value)
{
    return m_device && m_device->vendorId(value) == kCVNUsbSuccess;
}

bool AbstractUSBDevice::wordProperty828(uint16_t* value)
{
    return m_device && m_device->wordProperty828(value) == kCVNUsbSuccess;
}

bool AbstractUSBDevice::readRegister(uint8_t reg, uint8_t* value)
{
    return value && vendorIn(kRequestReadRegister, 0, uint16_t(reg << 8), value, 1);
}

bool AbstractUSBDevice::writeRegister(uint8_t reg, uint8_t value)
{
    if (!vendorOut(kRequestWriteRegister, 0, uint16_t(reg << 8 | value), nullptr, 0))
        return false;
    m_clock->sleep(kRegisterWritePauseMs);
    return true;
}

bool AbstractUSBDevice::notSupported14()
{
    return false;
}

bool AbstractUSBDevice::notSupported15()
{
    return false;
}

bool AbstractUSBDevice::readRegister1(uint8_t* value)
{
    return readRegister(1, value);
}

bool AbstractUSBDevice::beginFlashUpdate(uint32_t startAddress, uint32_t length)
{
    if (!enterHardwareAccess(startAddress))
        return false;
    bool prepared = false;
    switch (eraseMethod()) {
    case 0:
        prepared = eraseFlashRange(startAddress, length);
        break;
    case 1:
        prepared = waitFlashReady();
        break;
    case 2:
        prepared = true;
        break;
    default:
        break;
    }
    return prepared && selectDataPath(1, 0);
}

bool AbstractUSBDevice::writeFlashData(const uint8_t* data, uint32_t length)
{
    if (!m_hardwareAccess || !data || length == 0) {
        qCWarning(lcUsbFx2, "flash write of %u bytes refused: %s", length,
                  m_hardwareAccess ? "no data" : "not in the hardware-access mode");
        return false;
    }
    switch (writeMethod()) {
    case 0:
        return writeFlashPaged(data, length);
    case 1:
        return writeFlashInline(data, length);
    case 2:
        return writeFlashStream(data, length);
    default:
        return false;
    }
}

bool AbstractUSBDevice::endFlashUpdate(bool waitForRestart)
{
    if (writeMethod() == 2)
        m_clock->sleep(kSettleMs);
    const bool left = leaveHardwareAccess();
    if (!left || !waitForRestart) {
        m_clock->sleep(kSettleMs);
        return left;
    }
    // Register 0 reads 0 (or fails) until the controller is back.
    const auto back = m_clock->pollUntil(
        kRestartLimitMs, kRestartPollMs,
        [this] {
            uint8_t value = 0;
            return readRegister(0, &value) && value != 0 ? WaitClock::Poll::Ready
                                                         : WaitClock::Poll::Again;
        },
        WaitClock::FirstLook::AfterInterval);
    m_clock->sleep(kSettleMs);
    if (back != WaitClock::PollResult::Ready)
        qCWarning(lcUsbFx2, "the controller did not come back within %u ms", kRestartLimitMs);
    return back == WaitClock::PollResult::Ready;
}

bool AbstractUSBDevice::enterHardwareAccess(uint32_t startAddress)
{
    uint8_t value = 0;
    if (!hardwareAccessModeValue(&value) || !sendEnterHardwareAccess(value))
        return false;
    m_nextWriteAddress = startAddress;
    m_hardwareAccess = 1;
    return true;
}

bool AbstractUSBDevice::leaveHardwareAccess()
{
    const bool left = sendLeaveHardwareAccess();
    m_hardwareAccess = 0;
    if (m_hardwareTarget != 0)
        setHardwareTarget(0);
    return left;
}

bool AbstractUSBDevice::setHardwareTarget(uint8_t target)
{
    m_hardwareTarget = target;
    return true;
}

bool AbstractUSBDevice::hardwareTarget(uint8_t* target)
{
    if (target)
        *target = m_hardwareTarget;
    return true;
}

bool AbstractUSBDevice::programBootEeprom()
{
    switch (bootEepromFormat()) {
    case 0: {
        uint8_t header[11] = {0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
        return writeBootHeader(header, sizeof header);
    }
    case 1:
        return writeBootImage();
    default:
        return false;
    }
}

bool AbstractUSBDevice::clearBootHeader()
{
    for (uint16_t address = 0; address < 8; ++address) {
        uint8_t value = 0;
        if (!readEepromByte(address, &value))
            return false;
        if (value == 0xFF)
            continue;
        if (!writeEepromByte(address, 0xFF) || !readEepromByte(address, &value) || value != 0xFF)
            return false;
    }
    return true;
}

bool AbstractUSBDevice::selectDataPath(uint8_t path, uint8_t mode)
{
    if (m_dataPathCache[0] == path && m_dataPathCache[1] == mode && mode != 2)
        return true;
    const uint8_t data[2] = {path, mode};
    if (!vendorOut(kRequestSelectDataPath, 0, 0, data, sizeof data)) {
        m_dataPathCache[0] = m_dataPathCache[1] = 0xFF;
        return false;
    }
    m_dataPathCache[0] = path;
    m_dataPathCache[1] = mode;
    return true;
}

bool AbstractUSBDevice::writeBulkData(const uint8_t* data, uint32_t length)
{
    if (!m_interface || !data)
        return false;
    const CVNUsbStatus status =
        m_interface->writePipe(m_dataPipe, data, length, kBulkTimeout, kBulkTimeout);
    if (status != kCVNUsbSuccess)
        qCWarning(lcUsbFx2, "bulk write of %u bytes failed: %s", length,
                  CVNUsbStatusText(status).c_str());
    return status == kCVNUsbSuccess;
}

void* AbstractUSBDevice::reserved28()
{
    return nullptr;
}

void* AbstractUSBDevice::reserved29()
{
    return nullptr;
}

void* AbstractUSBDevice::reserved30()
{
    return nullptr;
}

void* AbstractUSBDevice::reserved31()
{
    return nullptr;
}

bool AbstractUSBDevice::resetDevice()
{
    return m_device && m_device->resetDevice() == kCVNUsbSuccess;
}

bool AbstractUSBDevice::openDevice()
{
    if (!m_device)
        return false;
    uint8_t count = 0;
    if (m_device->configurationCount(&count) != kCVNUsbSuccess || count == 0)
        return false;
    if (!m_deviceOpened) {
        const CVNUsbStatus status = m_device->open();
        if (status == kCVNUsbExclusiveAccess)
            return count == 1;
        if (status != kCVNUsbSuccess)
            return false;
        m_deviceOpened = 1;
    }
    return m_device->selectConfiguration(0) == kCVNUsbSuccess;
}

bool AbstractUSBDevice::openDataInterface()
{
    if (!m_device)
        return false;
    FindInterfaceRequest any;
    IUSBInterfaceIterator* iterator = nullptr;
    if (m_device->createInterfaceIterator(&any, &iterator) != kCVNUsbSuccess || !iterator)
        return false;
    releaseInterface();
    IUSBInterface* interface = nullptr;
    if (!iterator->next(&interface))
        interface = nullptr;
    iterator->Release();
    if (!interface) {
        if (m_reenteringDataInterface)
            return false;
        m_reenteringDataInterface = 1;
        const bool opened = openDevice() && openDataInterface();
        m_reenteringDataInterface = 0;
        return opened;
    }
    m_interface = interface;

    uint8_t count = 0;
    if (m_interface->registerForAsyncEvents() != kCVNUsbSuccess ||
        m_interface->GetNumEndpoints(&count) != kCVNUsbSuccess) {
        releaseInterface();
        return false;
    }
    m_dataPipe = uint8_t(count + 1);
    for (unsigned pipe = 1; pipe <= count; ++pipe) {
        uint8_t direction = 0, type = 0, interval = 0;
        uint16_t maxPacket = 0;
        if (m_interface->GetPipeProperties(uint8_t(pipe), &direction, &type, &maxPacket,
                                           &interval) != kCVNUsbSuccess)
            break;
        if (direction == 0 && type == 2) {
            if (m_interface->resetPipe(uint8_t(pipe)) != kCVNUsbSuccess)
                break;
            m_dataPipe = uint8_t(pipe);
            return true;
        }
    }
    releaseInterface();
    return false;
}

bool AbstractUSBDevice::needsRamFirmware(bool* needed)
{
    bool dummy = false;
    bool& flag = needed ? *needed : dummy;
    flag = true;
    uint16_t release = 0;
    const bool read = wordProperty828(&release);
    if (read && release == 1)
        return true;
    flag = false;
    return read;
}

bool AbstractUSBDevice::loadRamFirmware()
{
    // The whole image is checked first, so a damaged one never leaves the CPU in reset.
    if (!m_entry || (!m_entry->firmware && m_entry->firmwareLength) ||
        !Fx2FirmwareImage::isWellFormed(m_entry->firmware, m_entry->firmwareLength,
                                        Fx2FirmwareImage::ToEndRecord))
        return false;
    if (!openDevice())
        return false;
    const uint8_t hold = 0x01;
    if (!writeRam(kCpucs, 1, &hold, 3))
        return false;
    Fx2FirmwareImage image(m_entry->firmware, m_entry->firmwareLength);
    Fx2FirmwareImage::Record record;
    while (image.next(Fx2FirmwareImage::ToEndRecord, &record)) {
        if (!writeRam(record.address, record.length, record.data, 3))
            return false;
    }
    const uint8_t run = 0x00;
    return writeRam(kCpucs, 1, &run, 3);
}

bool AbstractUSBDevice::writeRam(uint16_t address, uint16_t length, const uint8_t* data,
                                 int32_t attempts)
{
    for (int32_t i = 0; i < attempts; ++i) {
        if (vendorOut(kRequestWriteRam, address, 0, data, length))
            return true;
    }
    return false;
}

bool AbstractUSBDevice::readEepromByte(uint16_t address, uint8_t* value)
{
    return value && vendorIn(kRequestReadEeprom, 0, address, value, 1);
}

bool AbstractUSBDevice::writeEepromByte(uint16_t address, uint8_t value)
{
    const bool written = vendorOut(kRequestWriteEeprom, 0, address, &value, 1);
    m_clock->sleep(kEepromWritePauseMs);
    return written;
}

bool AbstractUSBDevice::writeEepromByteVerified(uint16_t address, uint8_t value)
{
    uint8_t current = 0;
    if (!readEepromByte(address, &current))
        return false;
    if (current == value)
        return true;
    if (!writeEepromByte(address, value))
        return false;
    if (!readEepromByte(address, &current))
        return false;
    if (current != value)
        qCWarning(lcUsbFx2, "boot EEPROM byte 0x%04X reads 0x%02X after writing 0x%02X", address,
                  current, value);
    return current == value;
}

uint32_t AbstractUSBDevice::bootEepromFormat()
{
    return 0;
}

bool AbstractUSBDevice::bootConfigDisconnect()
{
    return false;
}

uint32_t AbstractUSBDevice::flashPageSize()
{
    return 256;
}

uint32_t AbstractUSBDevice::flashBlockCount()
{
    return 64;
}

uint32_t AbstractUSBDevice::flashBlockSize()
{
    return 65536;
}

uint8_t AbstractUSBDevice::flashAddressWidth()
{
    return 3;
}

bool AbstractUSBDevice::readFlashReady(uint8_t* ready)
{
    return vendorIn(kRequestFlashReady, 0, 0, ready, 1);
}

bool AbstractUSBDevice::sendFlashAddress(uint8_t request, uint64_t address, uint8_t width)
{
    uint8_t bytes[8] = {};
    putBigEndian(bytes, address, width);
    return vendorOut(request, 0, 0, bytes, width);
}

bool AbstractUSBDevice::eraseBlockAt(uint64_t address, uint8_t width)
{
    for (int attempt = 0; attempt < kEraseAttempts; ++attempt) {
        if (!sendFlashAddress(kRequestEraseBlock, address, width))
            return false;
        // A failed read or an erase that does not end is tried again.
        if (pollFlashReady(kEraseReadyLimitMs, kEraseReadyPollMs))
            return true;
    }
    return false;
}

bool AbstractUSBDevice::eraseFlashRange(uint32_t start, uint32_t length)
{
    const uint64_t blockSize = flashBlockSize();
    const uint64_t blockCount = flashBlockCount();
    const uint8_t width = flashAddressWidth();
    const uint64_t first = blockSize ? start / blockSize : 0;
    const uint64_t end = blockSize ? first + (uint64_t(length) + blockSize - 1) / blockSize : 0;
    if (blockSize == 0 || start % blockSize != 0 || end > blockCount || first >= end) {
        qCWarning(lcUsbFx2, "erase of %u bytes at 0x%X refused: blocks of %llu bytes, %llu blocks",
                  length, start, (unsigned long long)blockSize, (unsigned long long)blockCount);
        return false;
    }
    for (uint64_t block = first; block < end; ++block) {
        if (width > 8)
            continue;
        if (!eraseBlockAt(block * blockSize, width))
            return false;
    }
    return true;
}

bool AbstractUSBDevice::eraseFlashBlock(uint32_t block)
{
    const uint8_t width = flashAddressWidth();
    if (width > 8)
        return true;
    return eraseBlockAt(uint64_t(block) * flashBlockSize(), width);
}

bool AbstractUSBDevice::pollFlashReady(uint32_t limitMs, uint32_t intervalMs)
{
    const auto ready = m_clock->pollUntil(
        limitMs, intervalMs,
        [this] {
            uint8_t value = 0;
            if (!readFlashReady(&value))
                return WaitClock::Poll::Failed;
            return value ? WaitClock::Poll::Ready : WaitClock::Poll::Again;
        },
        WaitClock::FirstLook::AfterInterval);
    if (ready == WaitClock::PollResult::TimedOut)
        qCWarning(lcUsbFx2, "the flash was not ready within %u ms", limitMs);
    else if (ready == WaitClock::PollResult::Failed)
        qCWarning(lcUsbFx2, "the flash ready byte could not be read");
    return ready == WaitClock::PollResult::Ready;
}

bool AbstractUSBDevice::waitFlashReady()
{
    return pollFlashReady(kFlashReadyLimitMs, kFlashReadyPollMs);
}

bool AbstractUSBDevice::writeFlashPaged(const uint8_t* data, uint32_t length)
{
    const uint32_t pageSize = flashPageSize();
    const uint8_t width = flashAddressWidth();
    if (pageSize == 0 || width > 8)
        return false;
    std::vector<uint8_t> page;
    if (!allocate(&page, pageSize))
        return false;
    uint32_t address = m_nextWriteAddress;
    m_nextWriteAddress += length;
    if (length == 0 || !data)
        return false;
    uint32_t done = 0;
    while (done < length) {
        const uint32_t chunk = std::min(length - done, pageSize);
        const uint8_t* out = data + done;
        if (chunk < pageSize) {
            std::memcpy(page.data(), out, chunk);
            std::fill(page.begin() + chunk, page.end(), 0);
            out = page.data();
        }
        if (!sendFlashAddress(kRequestFlashAddress, address, width) ||
            !writeBulkData(out, pageSize))
            return false;
        if (!pollFlashReady(kPagedWriteReadyLimitMs, kPagedWriteReadyPollMs))
            return false;
        address += pageSize;
        done += chunk;
    }
    return true;
}

bool AbstractUSBDevice::writeFlashInline(const uint8_t* data, uint32_t length)
{
    const uint32_t pageSize = flashPageSize();
    const uint8_t width = flashAddressWidth();
    if (pageSize == 0)
        return false;
    std::vector<uint8_t> buffer;
    if (!allocate(&buffer, size_t(width) + pageSize))
        return false;
    uint32_t address = m_nextWriteAddress;
    m_nextWriteAddress += length;
    if (length == 0 || !data)
        return false;
    uint32_t done = 0;
    while (done < length) {
        const uint32_t chunk = std::min(length - done, pageSize);
        putBigEndian(buffer.data(), address, width);
        std::memcpy(buffer.data() + width, data + done, chunk);
        if (!writeBulkData(buffer.data(), width + chunk))
            return false;
        if (!pollFlashReady(kInlineWriteReadyLimitMs, kInlineWriteReadyPollMs))
            return false;
        address += chunk;
        done += chunk;
    }
    return true;
}

bool AbstractUSBDevice::writeFlashStream(const uint8_t* data, uint32_t length)
{
    if (length == 0)
        return true;
    if (!data)
        return false;
    m_nextWriteAddress += length;
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = std::min(length - done, kStreamPiece);
        if (!writeBulkData(data + done, piece))
            return false;
        done += piece;
    }
    return true;
}

bool AbstractUSBDevice::writeBootImage()
{
    // Checked in full before the first byte is written: a damaged image or one that does
    // not fit the EEPROM's 16-bit addresses is refused with the EEPROM untouched.
    if (!m_entry || (!m_entry->firmware && m_entry->firmwareLength))
        return false;
    const uint64_t total =
        Fx2FirmwareImage::bootImageSize(m_entry->firmware, m_entry->firmwareLength);
    if (total == 0 || total > kEepromSize)
        return false;

    uint16_t vid = 0, pid = 0;
    if (!vendorId(&vid) || !productId(&pid))
        return false;
    const uint8_t header[8] = {
        0xC0, uint8_t(vid), uint8_t(vid >> 8), uint8_t(pid), uint8_t(pid >> 8), 0x01, 0x00, 0x01};
    if (!writeEepromByteVerified(7, 0x01))
        return false;
    for (uint16_t i = 0; i < 8; ++i) {
        if (!writeEepromByteVerified(i, header[i]))
            return false;
    }

    uint32_t at = 8;
    auto put = [&](uint8_t value) { return writeEepromByteVerified(uint16_t(at++), value); };
    Fx2FirmwareImage image(m_entry->firmware, m_entry->firmwareLength);
    Fx2FirmwareImage::Record record;
    while (image.next(Fx2FirmwareImage::ToImageEnd, &record)) {
        if (record.length == 0 || record.type != 0)
            continue;
        if (!put(0x00) || !put(record.length) || !put(uint8_t(record.address >> 8)) ||
            !put(uint8_t(record.address)))
            return false;
        for (uint8_t i = 0; i < record.length; ++i) {
            if (!put(record.data[i]))
                return false;
        }
    }
    for (uint8_t value : kBootImageClosing) {
        if (!put(value))
            return false;
    }

    uint8_t first = 0;
    if (!readEepromByte(0, &first))
        return false;
    if (first != 0xC2) {
        writeEepromByte(0, 0xC2);
        if (!readEepromByte(0, &first) || first != 0xC2)
            return false;
    }
    if (bootConfigDisconnect())
        return writeEepromByteVerified(7, 0x41);
    return true;
}

bool AbstractUSBDevice::writeBootHeader(uint8_t* buffer, uint32_t length)
{
    if (!buffer || length < 8 || length > kEepromSize)
        return false;
    uint16_t vid = 0, pid = 0;
    if (!vendorId(&vid) || !productId(&pid))
        return false;
    buffer[1] = uint8_t(vid);
    buffer[2] = uint8_t(vid >> 8);
    buffer[3] = uint8_t(pid);
    buffer[4] = uint8_t(pid >> 8);
    buffer[5] = 0x01;
    buffer[6] = 0x00;
    for (uint32_t i = 0; i < length; ++i) {
        if (!writeEepromByteVerified(uint16_t(i), buffer[i]))
            return false;
    }
    return true;
}

bool AbstractUSBDevice::hardwareAccessModeValue(uint8_t* value)
{
    if (m_hardwareTarget != 0 || !value)
        return false;
    *value = 0;
    return true;
}

bool AbstractUSBDevice::sendEnterHardwareAccess(uint8_t value)
{
    return vendorOut(kRequestEnterHardwareAccess, 0, value, nullptr, 0);
}

bool AbstractUSBDevice::sendLeaveHardwareAccess()
{
    return vendorOut(kRequestLeaveHardwareAccess, 0, 0, nullptr, 0);
}

} // namespace USB
} // namespace CVN
