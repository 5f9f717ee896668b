#include "deckbench.h"

#include "sim/deckcontroller/zynqbootimage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

DeckBench::DeckBench(std::shared_ptr<Sim::DeckControllerUnit> unit)
    : m_unit(std::move(unit))
    , m_window([this](const Platform::Message& m, intptr_t*) {
        return m_notifier.handleDeviceChangeMessage(m);
    })
{
    Sim::UsbBus::instance().plug(m_unit);
    m_notifier.setNotificationWindow(&m_window, 0);
    m_registry.setDelegate(this);
    m_registry.start(&m_notifier, false);
}

DeckBench::~DeckBench()
{
    Sim::UsbBus::instance().reset();
}

std::shared_ptr<Sim::DeckControllerUnit>
DeckBench::bootableUnit(Sim::DeckControllerUnit::DeckOptions options)
{
    auto unit = std::make_shared<Sim::DeckControllerUnit>(options);
    unit->setBank(0, Sim::ZynqBootImage::make(0x30000, 1));
    return unit;
}

DeckBench::Handle DeckBench::handle() const
{
    return m_registry.find(DeviceId::fromBytes(m_unit->uniqueId().data()));
}

std::unique_ptr<DeckControllerXmegaDevice> DeckBench::device()
{
    auto device = std::make_unique<DeckControllerXmegaDevice>(handle());
    device->setClock(m_clock);
    return device;
}

bool DeckBench::waitForNewDevice(const std::shared_ptr<XmegaUSBDevice>& old)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const auto now = handle().device();
        if (now && now != old)
            return true;
        QThread::msleep(1);
    }
    return false;
}

std::vector<Sim::LogEntry> DeckBench::log() const
{
    return Sim::UsbBus::instance().requestLog(m_unit->id());
}

void DeckBench::clearLog() const
{
    Sim::UsbBus::instance().clearRequestLog(m_unit->id());
}

int DeckBench::count(uint8_t bRequest) const
{
    int n = 0;
    for (const Sim::LogEntry& e : log())
        if (e.kind == Sim::LogEntry::Control && e.setup.type() == 2 && e.setup.request == bRequest)
            ++n;
    return n;
}
