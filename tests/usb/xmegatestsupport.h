#pragma once

#include "simdevicefixture.h"

#include "sim/usbbus/usbbus.h"
#include "sim/xmega/xmegaunit.h"
#include "usb/driver/cvnusb.h"
#include "usb/driver/waitclock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// One simulated XMEGA unit on the bus (the only device there) and the USB device the layer
// made for it. Leaves an empty bus behind.
class XmegaBench
{
public:
    explicit XmegaBench(std::shared_ptr<Sim::XmegaUnit> unit = std::make_shared<Sim::XmegaUnit>());
    ~XmegaBench();

    XmegaBench(const XmegaBench&) = delete;
    XmegaBench& operator=(const XmegaBench&) = delete;

    Sim::XmegaUnit& unit() const { return *m_unit; }
    const std::shared_ptr<Sim::XmegaUnit>& unitPtr() const { return m_unit; }
    Sim::DeviceId id() const;
    // The device the layer reports for the unit now (after waiting for it to be on the bus),
    // one reference held by the bench; null when it does not come.
    CVN::USB::IUSBDevice* device();
    // Waits until the unit has left and come back under a new bus id.
    bool waitForReenumeration(Sim::DeviceId old);

    std::vector<Sim::LogEntry> log() const;
    void clearLog() const;
    // The control requests of the log with this bRequest.
    std::vector<Sim::ControlSetup> requests(uint8_t bRequest) const;

private:
    std::shared_ptr<Sim::XmegaUnit> m_unit;
    Sim::DeviceId m_id = 0;
    std::vector<CVN::USB::IUSBDevice*> m_devices;
};

// A unit with the given options.
std::shared_ptr<Sim::XmegaUnit> makeUnit(uint16_t productId = 0xC3E4, bool bootloader = false);
