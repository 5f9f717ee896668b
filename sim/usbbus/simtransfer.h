#pragma once

#include "sim/usbbus/transfer.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace Sim {

// A transfer as the bus tracks it: pending until the model completes it or the bus gives it
// up (time-out, cancel, unplug); whichever comes first decides the result.
class SimTransfer final : public Transfer
{
public:
    // Told once when the transfer ends, outside the transfer's lock.
    using EndHandler = std::function<void(uint32_t usbdStatus, uint32_t bytes)>;

    SimTransfer(Kind kind, const ControlSetup& setup, uint8_t interfaceNumber, uint8_t endpoint,
                std::vector<uint8_t> outData, uint32_t inLength);

    Kind kind() const override { return m_kind; }
    ControlSetup setup() const override { return m_setup; }
    uint8_t interfaceNumber() const override { return m_interfaceNumber; }
    uint8_t endpoint() const override { return m_endpoint; }
    const std::vector<uint8_t>& outData() const override { return m_outData; }
    uint32_t inLength() const override { return m_inLength; }
    bool isCancelled() const override;
    void complete(uint32_t usbdStatus, const std::vector<uint8_t>& inData) override;

    // For an asynchronous request: where IN data goes when it arrives, and who is told.
    void setAsync(uint8_t* output, EndHandler onEnd);
    // Cuts successful IN replies short (a fault of the device).
    void setShortReplyBy(int bytes) { m_shortBy = bytes; }

    // Gives the transfer up with this status; false when it had already ended.
    bool abandon(uint32_t usbdStatus);
    // Waits for the end; 0 and 0xFFFFFFFF wait without limit. False on time-out.
    bool waitFor(uint32_t timeoutMs);

    uint32_t status() const;
    // Bytes moved: IN data received, or all OUT data on success.
    uint32_t bytes() const;
    std::vector<uint8_t> inData() const;

private:
    enum State { Pending, Completed, Abandoned };

    const Kind m_kind;
    const ControlSetup m_setup;
    const uint8_t m_interfaceNumber;
    const uint8_t m_endpoint;
    const std::vector<uint8_t> m_outData;
    const uint32_t m_inLength;
    int m_shortBy = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    State m_state = Pending;
    uint32_t m_status = 0;
    std::vector<uint8_t> m_inData;
    uint8_t* m_output = nullptr;
    EndHandler m_onEnd;
};

} // namespace Sim
