#pragma once

#include "deckbench.h"
#include "deckwindow.h"
#include "plugins/deckcontroller/deckcontrollerfamily.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// Generous: the sanitizers slow every poll of the GUI thread.
constexpr int kWaitMs = 30000;

// The family on a window, watching the simulated bus, as the program runs it. Leaves an empty
// bus behind.
struct DeckFamilyFixture
{
    DeckFamilyFixture()
        : window(std::make_unique<DeckWindow>())
        , family(new DeckControllerFamily(window.get()))
    {
        qRegisterMetaType<VisibleDevice*>();
        qRegisterMetaType<VisibleDeckController*>();
        window->families << family;
        window->show();
        arrivals = std::make_unique<QSignalSpy>(family, &Family::deviceArrived);
        removals =
            std::make_unique<QSignalSpy>(family, qOverload<VisibleDevice*>(&Family::deviceRemoved));
        family->startDiscovery();
    }

    ~DeckFamilyFixture()
    {
        window->deleteWidgets();
        delete family;
        window.reset();
        Sim::UsbBus::instance().reset();
    }

    // Plugs a unit and waits for the family to list it.
    VisibleDeckController* plug(std::shared_ptr<Sim::DeckControllerUnit> unit)
    {
        units.push_back(unit);
        const int before = arrivals->count();
        Sim::UsbBus::instance().plug(unit);
        if (!QTest::qWaitFor([&] { return arrivals->count() > before; }, 10000))
            return nullptr;
        return static_cast<VisibleDeckController*>(
            dynamic_cast<VisibleDeckController*>(arrivals->last().at(0).value<VisibleDevice*>()));
    }

    std::unique_ptr<DeckWindow> window;
    DeckControllerFamily* family;
    std::unique_ptr<QSignalSpy> arrivals;
    std::unique_ptr<QSignalSpy> removals;
    std::vector<std::shared_ptr<Sim::DeckControllerUnit>> units;
};
