#pragma once

#include "recorderwatch.h"
#include "tests/usb/fx2fixture.h"

#include "plugins/recorder/ikestrel.h"
#include "plugins/recorder/kestrelfx2usbnotifier.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"
#include "plugins/recorder/kestrelxmegastreamingusbnotifier.h"
#include "plugins/recorder/kestrelxmegausbnotifier.h"
#include "sim/recorder/fx2recorder.h"
#include "sim/recorder/streamingrecorder.h"
#include "sim/recorder/xmegamailboxrecorder.h"

#include <QString>

#include <memory>
#include <type_traits>

// One simulated recorder of a generation on the bus, its notifier watching from a window of
// this thread. Each unit runs the firmware this program ships.
struct SimUnit
{
    virtual ~SimUnit() = default;
    virtual bool start() = 0;
    virtual CVN::DiskRecorder::IKestrel* device() = 0;
    // Makes the unit report that it records (or stops); false where it never does.
    virtual bool setBusy(bool busy) = 0;
    // Removals the family was told of.
    virtual int removals() const = 0;
    Sim::DeviceId busId = 0;
};

template<class Notifier, class Model> struct SimUnitOf : SimUnit
{
    template<class... Args>
    SimUnitOf(std::shared_ptr<Model> model, Args&&... args)
        : model(std::move(model))
        , watch(std::forward<Args>(args)...)
    {
        busId = Sim::UsbBus::instance().plug(this->model);
    }
    bool start() override { return watch.start(); }
    CVN::DiskRecorder::IKestrel* device() override
    {
        return watch.family.arrivals.empty() ? nullptr : watch.family.arrivals.back();
    }
    bool setBusy(bool busy) override
    {
        if constexpr (std::is_same_v<Model, Sim::StreamingRecorder>) {
            Q_UNUSED(busy);
            return false;
        } else {
            model->setStatus(busy ? 0x39 : 0x31);
            return true;
        }
    }
    int removals() const override { return int(watch.family.removals.size()); }
    std::shared_ptr<Model> model;
    Watch<Notifier> watch;
};

using Fx2Unit = SimUnitOf<CVN::DiskRecorder::KestrelFX2USBNotifier, Sim::Fx2Recorder>;
using MailboxUnit =
    SimUnitOf<CVN::DiskRecorder::KestrelXmegaUSBNotifier, Sim::XmegaMailboxRecorder>;
using StreamingUnit =
    SimUnitOf<CVN::DiskRecorder::KestrelXmegaStreamingUSBNotifier, Sim::StreamingRecorder>;

// The FX2 notifier's table: a small RAM program for every FX2 recorder.
inline CVN::DiskRecorder::Fx2RamImageTable fx2ImageTable()
{
    const auto image = concat({fx2Record(0x0000, patternBytes(48, 1)), fx2EndRecord()});
    return CVN::DiskRecorder::Fx2RamImageTable(
        {{0xC34C, image}, {0xC34D, image}, {0xC35A, image}, {0xC367, image}, {0xC3A3, image}});
}

inline std::unique_ptr<Fx2Unit> makeFx2Unit(uint16_t productId = 0xC34D)
{
    auto model = std::make_shared<Sim::Fx2Recorder>(productId);
    model->setFirmware(0x2D, 0x1A6291BD);
    return std::make_unique<Fx2Unit>(model, fx2ImageTable());
}

// An FX2 unit running the firmware the plug-in ships for its model.
inline std::unique_ptr<Fx2Unit> makeCurrentFx2Unit(uint16_t productId)
{
    auto unit = makeFx2Unit(productId);
    switch (productId) {
    case 0xC34C:
        unit->model->setFirmware(0x1A, 0x570E71DA);
        break;
    case 0xC35A:
        unit->model->setFirmware(0x0A, 0xEADDC15D);
        break;
    case 0xC367:
    case 0xC3A3:
        unit->model->setFirmware(0x2C, 0xFF6F8B68);
        break;
    default:
        break;
    }
    return unit;
}

inline std::unique_ptr<MailboxUnit> makeMailboxUnit()
{
    auto model = std::make_shared<Sim::XmegaMailboxRecorder>();
    model->setFirmware(0x10, 0x16327E57);
    return std::make_unique<MailboxUnit>(model);
}

inline std::unique_ptr<StreamingUnit>
makeStreamingUnit(Sim::XmegaUnit::Options options = Sim::StreamingRecorder::defaultOptions())
{
    auto model = std::make_shared<Sim::StreamingRecorder>(options);
    model->setChecksums(CVN::DiskRecorder::KestrelXmegaStreamingUSBDevice::kExpectedXmegaChecksum,
                        CVN::DiskRecorder::KestrelXmegaStreamingUSBDevice::kExpectedXmegaChecksum);
    return std::make_unique<StreamingUnit>(model);
}

inline std::unique_ptr<SimUnit> makeSimUnit(const QString& generation)
{
    if (generation == "fx2")
        return makeFx2Unit();
    if (generation == "mailbox")
        return makeMailboxUnit();
    return makeStreamingUnit();
}

// A unit of the generation with the product id, running the firmware this program ships (the
// mailbox generation has one product id only).
inline std::unique_ptr<SimUnit> makeSimUnit(const QString& generation, uint16_t productId)
{
    if (generation == "fx2")
        return makeCurrentFx2Unit(productId);
    if (generation == "mailbox")
        return makeMailboxUnit();
    auto options = Sim::StreamingRecorder::defaultOptions();
    options.productId = productId;
    return makeStreamingUnit(options);
}
