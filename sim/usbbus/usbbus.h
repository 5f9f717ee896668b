#pragma once

#include "platform/driverport.h"
#include "sim/usbbus/usbdevicemodel.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Sim {

// Faults the bus injects on a device, counted over the device's transfers (control and
// bulk together) from the moment they are set; 0 switches a knob off.
struct Faults
{
    int stallRequest = 0;    // the n-th transfer stalls
    int dropRequest = 0;     // the n-th transfer is never answered: the host times out
    int unplugAtRequest = 0; // the device goes away when the n-th transfer arrives
    int shortReplyBy = 0;    // control IN replies come back this many bytes short
    bool refuseOpen = false; // opening the device path fails
    // An asynchronous start is answered "ok" instead of "pending": it never runs, and is
    // never completed (a driver that breaks the port's contract).
    bool answerAsyncOk = false;
    // Asynchronous completions report this many bytes more than were moved.
    uint32_t overstateAsyncBytes = 0;
    // The driver's handshake reply: two words and how many bytes of it come back.
    uint32_t handshakeFirst = 5;
    uint32_t handshakeSecond = 5;
    uint32_t handshakeSize = 8;
};

// One request as it reached the device.
struct LogEntry
{
    enum Kind {
        Control,
        BulkOut,
        BulkIn,
        ResetDevice,
        ResetPipe,
        SelectConfiguration,
        DriverOption
    };
    Kind kind = Control;
    ControlSetup setup;        // Control
    uint8_t endpoint = 0;      // BulkOut, BulkIn, ResetPipe
    uint32_t value = 0;        // SelectConfiguration, DriverOption; BulkIn: bytes asked
    std::vector<uint8_t> data; // data from the host
};

// Answers a driver function in place of the driver, for tests of a misbehaving driver:
// input as sent, the caller's output buffer and its size. The returned byte count may lie.
using DriverReply = std::function<Platform::IoStatus(const std::vector<uint8_t>& input,
                                                     uint8_t* output, uint32_t outputSize)>;

// The simulated USB bus: one per process, shared by every module through the library
// libpellworthusbbus.so, which also serves as the driver backend (PELLWORTH_USB_BACKEND=sim).
//
// Writing a device model: derive from UsbDeviceModel (or SimpleUsbDevice, which answers the
// standard requests and queues bulk data), plug it in, and talk to it through the USB layer
// as a plug-in would. Models that reboot call reenumerate() (from post() when the reply to
// the reboot request must go out first).
class UsbBus
{
public:
    static UsbBus& instance();

    virtual ~UsbBus() = default;

    // The device arrives: device-change messages go out to the registered recipients.
    virtual DeviceId plug(std::shared_ptr<UsbDeviceModel> model) = 0;
    // The device goes: pending transfers fail, handles stay open but every request on them
    // fails, removal messages go out. False for an unknown id.
    virtual bool unplug(DeviceId id) = 0;
    // Unplug and plug again under the same path, with the same model or `next`. Gives the
    // new id, 0 for an unknown id.
    virtual DeviceId reenumerate(DeviceId id, std::shared_ptr<UsbDeviceModel> next = {}) = 0;
    // Every device goes, quietly (no messages); faults, logs and overrides are cleared.
    virtual void reset() = 0;

    virtual std::vector<DeviceId> devices() const = 0;
    virtual std::string devicePath(DeviceId id) const = 0;
    virtual std::shared_ptr<UsbDeviceModel> model(DeviceId id) const = 0;

    // Runs work on the bus's worker thread after delayMs, or at due, in order of due time and
    // then of posting.
    virtual void post(uint32_t delayMs, std::function<void()> work) = 0;
    virtual void postAt(std::chrono::steady_clock::time_point due, std::function<void()> work) = 0;

    virtual void setFaults(DeviceId id, const Faults& faults) = 0;
    virtual void overrideDriverFunction(DeviceId id, uint32_t function, DriverReply reply) = 0;

    virtual std::vector<LogEntry> requestLog(DeviceId id) const = 0;
    virtual void clearRequestLog(DeviceId id) = 0;

    // Number of open driver handles on the device (closed handles are not counted).
    virtual int openHandles(DeviceId id) const = 0;
    // Number of transfers of the device that the host is still waiting for.
    virtual int pendingTransfers(DeviceId id) const = 0;
};

// The driver's device-interface class, as the bus serves it.
constexpr Platform::Guid kDriverClass = {
    0xB8719EFC, 0x9A7F, 0x400F, {0xB2, 0xAF, 0x28, 0x59, 0x13, 0xFB, 0xCE, 0xCC}};

} // namespace Sim

extern "C" {
__attribute__((visibility("default"))) Sim::UsbBus* pellworth_usbbus();
__attribute__((visibility("default"))) Platform::DriverPort* pellworth_usbbus_driver_port();
}

inline Sim::UsbBus& Sim::UsbBus::instance()
{
    return *pellworth_usbbus();
}
