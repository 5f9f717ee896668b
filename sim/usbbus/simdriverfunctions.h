#pragma once

#include "sim/usbbus/configurationlayout.h"
#include "sim/usbbus/simhandletable.h"

#include <functional>
#include <map>

namespace Sim {

// The driver's I/O-control contract: each function a handler in a table, code -> handler.
// Transfers go through the handle table; a test's override answers in place of a handler.
class SimDriverFunctions
{
public:
    SimDriverFunctions(std::mutex& lock, SimHandleTable& handles);

    Platform::IoStatus ioControl(Platform::DriverHandle handle, uint32_t code, const void* input,
                                 uint32_t inputSize, void* output, uint32_t outputSize);
    Platform::IoStatus ioControlAsync(Platform::DriverHandle handle, uint32_t code,
                                      const void* input, uint32_t inputSize, void* output,
                                      uint32_t outputSize, Platform::IoCompletion* completion);

private:
    // One call of a function on an open handle of a present device.
    struct Call
    {
        Platform::DriverHandle handle;
        const std::shared_ptr<SimDevice>& device;
        uint32_t function;
        const uint8_t* input;
        uint32_t inputSize;
        uint8_t* output;
        uint32_t outputSize;
    };
    using Handler = std::function<Platform::IoStatus(const Call&)>;

    Platform::IoStatus handshake(const Call& call);
    Platform::IoStatus controlTransfer(const Call& call);
    Platform::IoStatus serialNumberIndex(const Call& call);
    Platform::IoStatus configurationDescriptor(const Call& call);
    Platform::IoStatus selectConfiguration(const Call& call);
    Platform::IoStatus setDriverOption(const Call& call);
    Platform::IoStatus interfaceList(const Call& call);
    Platform::IoStatus interfaceProperty(const Call& call);
    Platform::IoStatus pipeProperties(const Call& call);
    Platform::IoStatus resetDevice(const Call& call);
    Platform::IoStatus resetPipe(const Call& call);
    Platform::IoStatus claimOrRelease(const Call& call);
    Platform::IoStatus pipeRequest(const Call& call, Platform::IoCompletion* completion);

    // The interface the call's first word names; records the status of one that is missing.
    bool findInterface(const Call& call, ConfigurationLayout& layout,
                       ConfigurationLayout::Interface** found);
    void log(SimDevice& device, LogEntry::Kind kind, uint32_t value, uint8_t endpoint);

    std::mutex& m_mutex;
    SimHandleTable& m_handles;
    std::map<uint32_t, Handler> m_table;
};

} // namespace Sim
