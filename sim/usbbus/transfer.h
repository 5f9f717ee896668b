#pragma once

#include "sim/usbbus/controlsetup.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Sim {

// One request from the host, handed to a device model. The model completes it exactly
// once, from any thread, at once or later. A transfer the host has given up on (time-out,
// cancel, unplug) ignores its completion; isCancelled() tells a model it may stop working
// on it.
class Transfer
{
public:
    enum Kind { Control, BulkOut, BulkIn };

    virtual ~Transfer() = default;

    virtual Kind kind() const = 0;
    // Control transfers: the setup stage.
    virtual ControlSetup setup() const = 0;
    // Bulk transfers: the interface number owning the pipe and the endpoint address
    // (bit 7 set for IN).
    virtual uint8_t interfaceNumber() const = 0;
    virtual uint8_t endpoint() const = 0;
    // Data from the host (control OUT, bulk OUT).
    virtual const std::vector<uint8_t>& outData() const = 0;
    // How many bytes the host reads at most (control IN, bulk IN).
    virtual uint32_t inLength() const = 0;

    virtual bool isCancelled() const = 0;

    // Ends the transfer. usbdStatus 0 is success, anything else one of the Usbd words.
    // inData is what an IN transfer returns; longer data is cut to inLength(). A successful
    // OUT transfer has taken all of outData().
    virtual void complete(uint32_t usbdStatus, const std::vector<uint8_t>& inData = {}) = 0;
};

using TransferPtr = std::shared_ptr<Transfer>;

} // namespace Sim
