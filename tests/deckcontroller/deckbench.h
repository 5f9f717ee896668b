#pragma once

#include "platform/qtrecipient.h"
#include "plugins/deckcontroller/deckcontrollerxmegadevice.h"
#include "plugins/deckcontroller/deckcontrollerxmegausbnotifier.h"
#include "sim/deckcontroller/deckcontrollerunit.h"
#include "usb/xmega/qtxmegausbnotifier.h"
#include "xmegatestsupport.h"

#include <memory>
#include <vector>

// A simulated deck controller on the bus, watched by the plug-in's notifier and the registry
// of live units on this thread, as the family watches them. Leaves an empty bus behind.
class DeckBench : public QtXmegaUSBNotifier<XmegaUSBDevice>::Delegate
{
public:
    using Handle = QtXmegaUSBDevice<XmegaUSBDevice>;

    // A unit whose bank A holds a bootable image.
    static std::shared_ptr<Sim::DeckControllerUnit>
    bootableUnit(Sim::DeckControllerUnit::DeckOptions options = {});

    explicit DeckBench(std::shared_ptr<Sim::DeckControllerUnit> unit = bootableUnit());
    ~DeckBench() override;

    Sim::DeckControllerUnit& unit() const { return *m_unit; }
    // A handle on the unit from the registry (empty when it holds none).
    Handle handle() const;
    // The plug-in's device for the unit, on a clock whose waits take no time.
    std::unique_ptr<DeckControllerXmegaDevice> device();
    const std::shared_ptr<ManualClock>& clock() const { return m_clock; }
    // Waits until the registry holds a device for the unit made after the given one.
    bool waitForNewDevice(const std::shared_ptr<XmegaUSBDevice>& old);

    std::vector<Sim::LogEntry> log() const;
    void clearLog() const;
    // Vendor requests of the log with this bRequest.
    int count(uint8_t bRequest) const;

    void arrived(Handle& device) override { arrivals.push_back(device); }
    void rebooted(Handle& device) override { reboots.push_back(device); }
    void removed(Handle& device) override { removals.push_back(device); }

    std::vector<Handle> arrivals, reboots, removals;

private:
    std::shared_ptr<Sim::DeckControllerUnit> m_unit;
    // Torn down in reverse: the USB-side notifier stops before its window and the registry go.
    QtXmegaUSBNotifier<XmegaUSBDevice> m_registry;
    Platform::QtRecipient m_window;
    DeckControllerXmegaUSBNotifier m_notifier;
    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>();
};

// Attached to a device so that its recovery probe runs.
struct NullDelegate : IDeckControllerDevice::Delegate
{
    void unitNameChanged() override {}
};
