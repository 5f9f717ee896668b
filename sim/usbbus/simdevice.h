#pragma once

#include "sim/usbbus/simtransfer.h"
#include "sim/usbbus/usbbus.h"

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Sim {

// The bus's record of one plugged device. Every field but `present` is guarded by the bus
// lock; the record outlives its unplug for as long as a handle or transfer holds it.
struct SimDevice
{
    DeviceId id = 0;
    std::shared_ptr<UsbDeviceModel> model;
    DeviceIdentity identity;
    std::string path;
    std::atomic<bool> present{true}; // read without the bus lock
    Faults faults;
    int requestCount = 0;
    std::vector<LogEntry> log;
    std::map<uint32_t, DriverReply> overrides;
    std::map<uint8_t, Platform::DriverHandle> claims; // interface number -> owner
    std::set<std::shared_ptr<SimTransfer>> pending;
    int openHandles = 0;
};

} // namespace Sim
