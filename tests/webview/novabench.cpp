#include "novabench.h"

#include "tests/usb/simdevicefixture.h"

using namespace CVN::USB;

NovaBench::NovaBench(Sim::NovaRecorder::Options options)
    : NovaBench(std::make_shared<Sim::NovaRecorder>(options))
{
}

NovaBench::NovaBench(std::shared_ptr<Sim::NovaRecorder> recorder)
    : m_recorder(std::move(recorder))
{
    Sim::UsbBus::instance().plug(m_recorder);
}

NovaBench::~NovaBench()
{
    for (IUSBDevice* d : m_devices)
        d->Release();
    Sim::UsbBus::instance().reset();
}

IUSBDevice* NovaBench::device()
{
    IUSBDevice* found = waitForDevice(*m_recorder);
    if (found)
        m_devices.push_back(found);
    return found;
}

bool NovaBench::waitForReenumeration(Sim::DeviceId old, int timeoutMs)
{
    return waitForNewBusId(*m_recorder, old, timeoutMs);
}

std::vector<Sim::LogEntry> NovaBench::log() const
{
    return Sim::UsbBus::instance().requestLog(id());
}

void NovaBench::clearLog() const
{
    Sim::UsbBus::instance().clearRequestLog(id());
}

std::vector<Sim::LogEntry> NovaBench::classRequests(uint8_t interfaceNumber) const
{
    std::vector<Sim::LogEntry> out;
    for (const Sim::LogEntry& e : log())
        if (e.kind == Sim::LogEntry::Control && e.setup.type() == 1 &&
            uint8_t(e.setup.index) == interfaceNumber)
            out.push_back(e);
    return out;
}

std::vector<Sim::LogEntry> NovaBench::bulkOut() const
{
    std::vector<Sim::LogEntry> out;
    for (const Sim::LogEntry& e : log())
        if (e.kind == Sim::LogEntry::BulkOut)
            out.push_back(e);
    return out;
}

void NovaBench::setBusFaults(const Sim::Faults& faults) const
{
    Sim::UsbBus::instance().setFaults(id(), faults);
}
