#pragma once

#include "platform/guid.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

class Recipient;

// Opaque values handed out by a driver port; 0 is never a valid one.
using DriverHandle = uint64_t;
using NotificationHandle = uint64_t;

// Last-error values a driver port reports.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorSemTimeout = 121;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorBusy = 170;
constexpr uint32_t kErrorOperationAborted = 995;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorNotFound = 1168;

// Outcome of one I/O control: ok, the byte count written to the output and the last error
// (0 when ok; kErrorIoPending when an asynchronous request was started and runs on).
struct IoStatus
{
    bool ok = false;
    uint32_t bytesReturned = 0;
    uint32_t lastError = 0;
};

// Told once when an asynchronous request ends, on whatever thread ended it. The port never
// touches the object again after the call returns, nor the request's output buffer.
class IoCompletion
{
public:
    virtual ~IoCompletion() = default;
    virtual void ioCompleted(uint32_t lastError, uint32_t bytesReturned) = 0;
};

// What a device notification is registered for: every device of a class, or one opened
// handle. flags is 0 for a window recipient and 1 for a service.
struct NotificationFilter
{
    uint32_t type = 0; // 5 device interface, 6 handle (as in a device-change header)
    Guid classGuid;
    DriverHandle handle = 0;
    uint32_t flags = 0;
};

// The kernel driver as the USB layer reaches it: device paths of a class, opened handles,
// I/O controls with buffers, and device-change messages posted to recipients. Every call
// is thread-safe. A backend lives in its own module, so everything goes through here.
class DriverPort
{
public:
    virtual ~DriverPort() = default;

    // Paths of the devices present in the class, in a stable order.
    virtual std::vector<std::string> devicePaths(const Guid& classGuid) = 0;

    // Opens a device path; 0 with *lastError set on failure.
    virtual DriverHandle open(const std::string& path, uint32_t* lastError) = 0;
    // Closes a handle; its pending requests end with kErrorOperationAborted first.
    virtual void close(DriverHandle handle) = 0;

    // A synchronous I/O control: blocks until the driver answers (a time-out is error 121).
    virtual IoStatus ioControl(DriverHandle handle, uint32_t code, const void* input,
                               uint32_t inputSize, void* output, uint32_t outputSize) = 0;

    // Starts an asynchronous I/O control. The input is copied before this returns; the
    // output must stay valid until completion is told. A started request answers
    // !ok with kErrorIoPending and is told to completion exactly once, never from inside
    // this call; any other answer means it did not start and completion is never told.
    virtual IoStatus ioControlAsync(DriverHandle handle, uint32_t code, const void* input,
                                    uint32_t inputSize, void* output, uint32_t outputSize,
                                    IoCompletion* completion) = 0;

    // Ends the pending requests of a handle (all of them, or the one with this completion)
    // with kErrorOperationAborted. Completion may be told on this thread or another; wait
    // for it before freeing what the request uses.
    virtual void cancel(DriverHandle handle, IoCompletion* completion) = 0;

    // Device-change messages (0x219) for the filter go to the recipient until unregistered.
    // After unregisterNotification returns, nothing more is posted for that registration.
    virtual NotificationHandle registerNotification(Recipient* recipient,
                                                    const NotificationFilter& filter) = 0;
    virtual void unregisterNotification(NotificationHandle notification) = 0;
};

// The process's driver backend, chosen by PELLWORTH_USB_BACKEND ("sim": the simulated bus
// library beside the program). Null when none is set or it cannot be loaded: no devices.
DriverPort* driverPort();

// Puts a port in place of the chosen backend for this module (null restores it).
void setDriverPortOverride(DriverPort* port);

} // namespace Platform
