#include "novabench.h"

#include "tests/usb/simdevicefixture.h"

#include <QElapsedTimer>
#include <QThread>

using namespace CVN::USB;

namespace {

bool poll(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

} // namespace

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
    if (!poll([this] { return m_recorder->isAttached(); }, 5000))
        return nullptr;
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    IUSBDevice* found = nullptr;
    if (collector.arrivals.size() == 1) {
        found = collector.arrivals[0];
        found->AddRef();
        m_devices.push_back(found);
    }
    CVNUsb_UnregisterDeviceNotifications(r);
    return found;
}

bool NovaBench::waitForReenumeration(Sim::DeviceId old, int timeoutMs)
{
    return poll(
        [&] {
            const Sim::DeviceId now = m_recorder->id();
            return now && now != old;
        },
        timeoutMs);
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
