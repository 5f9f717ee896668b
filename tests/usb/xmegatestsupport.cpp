#include "xmegatestsupport.h"

#include "simdevicefixture.h"

#include <QElapsedTimer>
#include <QThread>

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
    QElapsedTimer timer;
    timer.start();
    while (!m_unit->isAttached() && timer.elapsed() < 5000)
        QThread::msleep(1);
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

bool XmegaBench::waitForReenumeration(Sim::DeviceId old)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        const Sim::DeviceId now = m_unit->id();
        if (now && now != old)
            return true;
        QThread::msleep(1);
    }
    return false;
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
