#include "fx2fixture.h"

using namespace CVN::USB;

namespace {

// Pauses move only this clock's time and add up in the device's sleptMs.
class CountingClock : public ManualClock
{
public:
    explicit CountingClock(uint64_t& slept)
        : m_slept(slept)
    {
    }
    void sleep(uint32_t ms) override
    {
        ManualClock::sleep(ms);
        m_slept += ms;
    }

private:
    uint64_t& m_slept;
};

} // namespace

TestFx2Device::TestFx2Device(IUSBDevice* device, const USBProductEntry* entry)
    : AbstractUSBDevice(device, entry)
{
    setClock(std::make_shared<CountingClock>(sleptMs));
}

AbstractUSBDevice* TestFx2Device::create(IUSBDevice* device, const USBProductEntry* entry)
{
    return new TestFx2Device(device, entry);
}

bool TestFx2Device::hardwareAccessModeValue(uint8_t* value)
{
    return hardwareTarget(value);
}

Fx2Bench::Fx2Bench(bool firmwareRunning)
    : model(std::make_shared<Sim::Fx2Device>(0x2C4A, 0xC34C, firmwareRunning))
    , flash(std::make_shared<Sim::Fx2BlockFlash>())
    , at25(std::make_shared<Sim::At25Eeprom>())
    , lpc(std::make_shared<Sim::LpcTarget>())
    , swd(std::make_shared<Sim::Fx2SwdBridge>(lpc))
{
    model->attachPeripheral(kModeFlash, flash);
    model->attachPeripheral(kModeAt25, at25);
    model->attachPeripheral(kModeSwd, swd);
    id = Sim::UsbBus::instance().plug(model);
    registration = registerCollector(&collector);
}

Fx2Bench::~Fx2Bench()
{
    if (device)
        device->Release();
    collector.clear();
    CVNUsb_UnregisterDeviceNotifications(registration);
    Sim::UsbBus::instance().reset();
}

IUSBDevice* Fx2Bench::usbDevice() const
{
    return collector.arrivals.empty() ? nullptr : collector.arrivals.front();
}

TestFx2Device* Fx2Bench::makeDevice(const USBProductEntry* entry)
{
    return new TestFx2Device(usbDevice(), entry);
}

TestFx2Device* Fx2Bench::openDevice()
{
    if (device)
        device->Release();
    device = makeDevice();
    if (!device->open())
        return nullptr;
    clearLog();
    return device;
}

std::vector<Sim::LogEntry> Fx2Bench::log() const
{
    return Sim::UsbBus::instance().requestLog(id);
}

std::vector<Sim::LogEntry> Fx2Bench::controlRequests(uint8_t request) const
{
    std::vector<Sim::LogEntry> out;
    for (const Sim::LogEntry& e : log()) {
        if (e.kind == Sim::LogEntry::Control && e.setup.request == request)
            out.push_back(e);
    }
    return out;
}

std::vector<Sim::LogEntry> Fx2Bench::bulkWrites() const
{
    std::vector<Sim::LogEntry> out;
    for (const Sim::LogEntry& e : log()) {
        if (e.kind == Sim::LogEntry::BulkOut)
            out.push_back(e);
    }
    return out;
}

void Fx2Bench::clearLog()
{
    Sim::UsbBus::instance().clearRequestLog(id);
}

WatchedRegistration::WatchedRegistration()
    : window([this](const Platform::Message& m, intptr_t*) {
        return CVNUsb_HandleDeviceChangeMessage(registration, m);
    })
{
    registration = registerCollector(&collector, {}, {}, &window);
}

WatchedRegistration::~WatchedRegistration()
{
    collector.clear();
    CVNUsb_UnregisterDeviceNotifications(registration);
}

std::vector<uint8_t> fx2Record(uint16_t address, const std::vector<uint8_t>& data, uint8_t type)
{
    std::vector<uint8_t> r = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), type};
    r.insert(r.end(), data.begin(), data.end());
    r.push_back(0x5A); // checksum, never examined
    return r;
}

std::vector<uint8_t> fx2EndRecord()
{
    return fx2Record(0, {}, 1);
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> patternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return out;
}
