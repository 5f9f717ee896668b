#include "xmegatestsupport.h"

#include "simdevicefixture.h"

using namespace CVN::USB;

std::shared_ptr<Sim::XmegaUnit> makeUnit(uint16_t productId, bool bootloader)
{
    Sim::XmegaUnit::Options options;
    options.productId = productId;
    options.bootloader = bootloader;
    return std::make_shared<Sim::XmegaUnit>(options);
}

XmegaBench::XmegaBench(std::shared_ptr<Sim::XmegaUnit> unit)
    : m_unit(std::move(unit))
{
    m_id = Sim::UsbBus::instance().plug(m_unit);
}

XmegaBench::~XmegaBench()
{
    for (IUSBDevice* d : m_devices)
        d->Release();
    Sim::UsbBus::instance().reset();
}

Sim::DeviceId XmegaBench::id() const
{
    return m_unit->id();
}

CVN::USB::IUSBDevice* XmegaBench::device()
{
    IUSBDevice* found = waitForDevice(*m_unit);
    if (found)
        m_devices.push_back(found);
    return found;
}

bool XmegaBench::waitForReenumeration(Sim::DeviceId old)
{
    return waitForNewBusId(*m_unit, old);
}

std::vector<Sim::LogEntry> XmegaBench::log() const
{
    return Sim::UsbBus::instance().requestLog(id());
}

void XmegaBench::clearLog() const
{
    Sim::UsbBus::instance().clearRequestLog(id());
}

std::vector<Sim::ControlSetup> XmegaBench::requests(uint8_t bRequest) const
{
    std::vector<Sim::ControlSetup> out;
    for (const Sim::LogEntry& e : log())
        if (e.kind == Sim::LogEntry::Control && e.setup.type() == 2 && e.setup.request == bRequest)
            out.push_back(e.setup);
    return out;
}
