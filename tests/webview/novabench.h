#pragma once

#include "sim/novarecorder/novarecorder.h"
#include "sim/usbbus/usbbus.h"
#include "usb/driver/cvnusb.h"

#include <memory>
#include <vector>

// One simulated recorder on the bus and the USB devices the layer made for it, each with a
// reference held by the bench. Leaves an empty bus behind.
class NovaBench
{
public:
    explicit NovaBench(Sim::NovaRecorder::Options options = {});
    explicit NovaBench(std::shared_ptr<Sim::NovaRecorder> recorder);
    ~NovaBench();

    NovaBench(const NovaBench&) = delete;
    NovaBench& operator=(const NovaBench&) = delete;

    Sim::NovaRecorder& recorder() const { return *m_recorder; }
    Sim::DeviceId id() const { return m_recorder->id(); }
    // The device the layer reports for the recorder now; null when it does not come.
    CVN::USB::IUSBDevice* device();
    // Waits until the recorder has left and come back under another bus id.
    bool waitForReenumeration(Sim::DeviceId old, int timeoutMs = 5000);

    std::vector<Sim::LogEntry> log() const;
    void clearLog() const;
    // Class requests to an interface, in order.
    std::vector<Sim::LogEntry> classRequests(uint8_t interfaceNumber) const;
    // Bulk OUT transfers, in order.
    std::vector<Sim::LogEntry> bulkOut() const;
    void setBusFaults(const Sim::Faults& faults) const;

private:
    std::shared_ptr<Sim::NovaRecorder> m_recorder;
    std::vector<CVN::USB::IUSBDevice*> m_devices;
};
