#pragma once

#include "sim/usbbus/transfer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

class UsbBus;
using DeviceId = uint64_t;

// The device-descriptor facts the driver reports without asking the device.
struct DeviceIdentity
{
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t revision = 0; // bcdDevice
    uint8_t deviceClass = 0;
    uint8_t deviceSubClass = 0;
    uint8_t deviceProtocol = 0;
    uint8_t serialNumberIndex = 0; // iSerialNumber
    uint8_t configurationCount = 1;
    uint8_t speed = 2; // 0 low, 1 full, 2 high
    // Unique part of the device path; stays the same across re-enumeration. Empty: the bus
    // makes one up.
    std::string instance;
};

// A simulated USB device on the bus. The bus calls it from the host's threads and from its
// own worker thread, never under its own lock, so a model may call the bus (unplug itself,
// post delayed work) from any of these calls. Models guard their own state.
//
// Interfaces and pipes are taken from the configuration descriptor: interface id n of the
// driver is the n-th interface descriptor (alternate settings counted), and pipe index k of
// an interface is its k-th endpoint descriptor.
class UsbDeviceModel
{
public:
    virtual ~UsbDeviceModel() = default;

    // Read once when the device is plugged in.
    virtual DeviceIdentity identity() const = 0;

    // The bytes of configuration `index` as the device sends them (they may be malformed on
    // purpose). Empty when there is no such configuration.
    virtual std::vector<uint8_t> configurationDescriptor(uint8_t index) const = 0;

    // A request on the default pipe; standard requests included.
    virtual void control(const TransferPtr& transfer) = 0;
    // A request on a bulk pipe.
    virtual void bulk(const TransferPtr& transfer) = 0;

    virtual void resetDevice() {}
    virtual void resetPipe(uint8_t endpoint) {}
    virtual void configurationSelected(uint8_t value) {}

    // The device was plugged in under id, or has just been unplugged.
    virtual void attached(UsbBus* bus, DeviceId id) {}
    virtual void detached() {}
};

} // namespace Sim
