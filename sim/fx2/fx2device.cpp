#include "sim/fx2/fx2device.h"

#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbdstatus.h"

namespace Sim {

namespace {
constexpr uint16_t kCpucs = 0xE600;

std::vector<uint8_t> fx2Configuration()
{
    return ConfigurationBuilder()
        .interface(0, 0, 0xFF, 0, 0)
        .bulkOut(Fx2Device::kDataOut, 512)
        .bulkIn(Fx2Device::kDataIn, 512)
        .build();
}

DeviceIdentity fx2Identity(uint16_t vendorId, uint16_t productId)
{
    DeviceIdentity identity;
    identity.vendorId = vendorId;
    identity.productId = productId;
    identity.revision = Fx2Device::kRunningRelease;
    return identity;
}
} // namespace

Fx2Device::Fx2Device(uint16_t vendorId, uint16_t productId, bool firmwareRunning, size_t eepromSize)
    : SimpleUsbDevice(fx2Identity(vendorId, productId), fx2Configuration())
    , m_firmwareRunning(firmwareRunning)
    , m_ram(0x10000, 0)
    , m_eeprom(eepromSize, 0xFF)
{
    m_registers[0] = 1;
    onBulkOut(kDataOut, [this](const std::vector<uint8_t>& data) { return bulkOut(data); });
}

DeviceIdentity Fx2Device::identity() const
{
    DeviceIdentity identity = SimpleUsbDevice::identity();
    std::lock_guard<std::mutex> lock(m_stateMutex);
    identity.revision = m_firmwareRunning ? kRunningRelease : kBootRelease;
    return identity;
}

void Fx2Device::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    if (setup.type() != 2) {
        SimpleUsbDevice::control(transfer);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        auto it = m_stalls.find(setup.request);
        if (it != m_stalls.end() && it->second > 0) {
            --it->second;
            transfer->complete(Usbd::kStall);
            return;
        }
    }
    std::vector<uint8_t> in;
    const uint32_t status = vendorRequest(setup, transfer->outData(), &in);
    if (status != kNoReply)
        transfer->complete(status, in);
}

uint32_t Fx2Device::vendorRequest(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                  std::vector<uint8_t>* in)
{
    const bool isIn = setup.isIn();
    switch (setup.request) {
    case Fx2Peripheral::RamWrite:
        if (isIn)
            break;
        return writeRam(setup.value, out);
    case Fx2Peripheral::DataPath: {
        if (isIn || out.size() != 2)
            break;
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_dataPaths.push_back({out[0], out[1]});
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::BootEepromWrite: {
        if (isIn || out.size() != 1)
            break;
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (setup.index >= m_eeprom.size())
            break;
        if (int(setup.index) != m_stuckEepromByte)
            m_eeprom[setup.index] = out[0];
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::BootEepromRead: {
        if (!isIn || setup.length != 1)
            break;
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (setup.index >= m_eeprom.size())
            break;
        *in = {m_eeprom[setup.index]};
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::VendorByteD5:
    case Fx2Peripheral::VendorByteE1: {
        if (!isIn || setup.length != 1)
            break;
        std::lock_guard<std::mutex> lock(m_stateMutex);
        *in = {setup.request == Fx2Peripheral::VendorByteD5 ? m_vendorD5 : m_vendorE1};
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::RegisterRead:
        if (!isIn || setup.length != 1)
            break;
        *in = {registerRead(uint8_t(setup.index >> 8))};
        return Usbd::kSuccess;
    case Fx2Peripheral::RegisterWrite: {
        if (isIn)
            break;
        const uint8_t reg = uint8_t(setup.index >> 8);
        const uint8_t value = uint8_t(setup.index);
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_registers[reg] = value;
        }
        registerWritten(reg, value);
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::EnterHardwareAccess: {
        if (isIn)
            break;
        std::shared_ptr<Fx2Peripheral> peripheral;
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_mode = uint8_t(setup.index);
            auto it = m_peripherals.find(uint8_t(setup.index));
            if (it != m_peripherals.end())
                peripheral = it->second;
        }
        if (peripheral)
            peripheral->entered();
        return Usbd::kSuccess;
    }
    case Fx2Peripheral::LeaveHardwareAccess: {
        if (isIn)
            break;
        std::shared_ptr<Fx2Peripheral> peripheral = activePeripheral();
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_mode = -1;
            m_zeroReadsLeft = m_restartReads;
        }
        if (peripheral)
            peripheral->left();
        return Usbd::kSuccess;
    }
    default:
        break;
    }
    if (std::shared_ptr<Fx2Peripheral> peripheral = activePeripheral()) {
        const uint32_t status = peripheral->control(setup, out, in);
        if (status != Fx2Peripheral::kNotHandled)
            return status;
    }
    return Usbd::kStall;
}

uint32_t Fx2Device::writeRam(uint16_t address, const std::vector<uint8_t>& data)
{
    if (size_t(address) + data.size() > m_ram.size())
        return Usbd::kStall;
    bool reenumerate = false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_ramWrites.push_back({address, data});
        if (address == kCpucs && data.size() == 1) {
            const bool hold = data[0] & 1;
            if (!hold && m_cpuHeld && m_ramLoaded) {
                m_firmwareRunning = true;
                reenumerate = m_reenumerateOnRun;
            }
            m_cpuHeld = hold;
            m_ram[kCpucs] = data[0];
        } else {
            if (!m_cpuHeld)
                ++m_ramWritesWhileRunning;
            std::copy(data.begin(), data.end(), m_ram.begin() + address);
            m_ramLoaded = m_ramLoaded || !data.empty();
        }
    }
    UsbBus* b = bus();
    const DeviceId me = id();
    if (reenumerate && b && me) {
        // After the reply to this request has gone out, as a restarting controller would.
        b->post(0, [b, me] { b->reenumerate(me); });
    }
    return Usbd::kSuccess;
}

uint32_t Fx2Device::bulkOut(const std::vector<uint8_t>& data)
{
    if (std::shared_ptr<Fx2Peripheral> peripheral = activePeripheral())
        return peripheral->bulkOut(data);
    return dataBulkOut(data);
}

uint32_t Fx2Device::dataBulkOut(const std::vector<uint8_t>&)
{
    return Usbd::kStall;
}

uint8_t Fx2Device::registerRead(uint8_t reg)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (reg == 0 && m_zeroReadsLeft != 0) {
        if (m_zeroReadsLeft > 0)
            --m_zeroReadsLeft;
        return 0;
    }
    return m_registers[reg];
}

std::shared_ptr<Fx2Peripheral> Fx2Device::activePeripheral() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_mode < 0)
        return {};
    auto it = m_peripherals.find(uint8_t(m_mode));
    return it == m_peripherals.end() ? nullptr : it->second;
}

void Fx2Device::attachPeripheral(uint8_t modeValue, std::shared_ptr<Fx2Peripheral> peripheral)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_peripherals[modeValue] = std::move(peripheral);
}

std::vector<uint8_t> Fx2Device::ram(uint16_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    const size_t end = std::min(m_ram.size(), size_t(address) + length);
    return std::vector<uint8_t>(m_ram.begin() + address, m_ram.begin() + long(end));
}

bool Fx2Device::cpuHeld() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_cpuHeld;
}

bool Fx2Device::firmwareRunning() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_firmwareRunning;
}

std::vector<Fx2Device::RamWrite> Fx2Device::ramWrites() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_ramWrites;
}

int Fx2Device::ramWritesWhileRunning() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_ramWritesWhileRunning;
}

std::vector<uint8_t> Fx2Device::eeprom() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_eeprom;
}

void Fx2Device::setEeprom(std::vector<uint8_t> contents)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_eeprom = std::move(contents);
}

uint8_t Fx2Device::registerValue(uint8_t reg) const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_registers[reg];
}

void Fx2Device::setRegister(uint8_t reg, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_registers[reg] = value;
}

bool Fx2Device::inHardwareAccess() const
{
    return hardwareAccessMode() >= 0;
}

int Fx2Device::hardwareAccessMode() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_mode;
}

std::vector<std::array<uint8_t, 2>> Fx2Device::dataPathSelections() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_dataPaths;
}

void Fx2Device::stallRequests(uint8_t request, int count)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_stalls[request] = count;
}

void Fx2Device::setStuckEepromByte(int address)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_stuckEepromByte = address;
}

void Fx2Device::setRestartReads(int reads)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_restartReads = reads;
}

void Fx2Device::setVendorBytes(uint8_t d5, uint8_t e1)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_vendorD5 = d5;
    m_vendorE1 = e1;
}

void Fx2Device::setReenumerateOnRun(bool reenumerate)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_reenumerateOnRun = reenumerate;
}

} // namespace Sim
