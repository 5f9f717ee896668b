#pragma once

#include "usb/driver/waitclock.h"
#include "usb/rpc/rpcdevice.h"

#include <memory>
#include <mutex>
#include <vector>

namespace VornOSRPC {

class StreamingInterface;

// RPC over a message stream: every request is one message written and one read back, under
// a mutex shared by every RPC device of the process so that replies never interleave.
class StreamingRpcDevice : public RpcDevice
{
public:
    static constexpr uint32_t kShortReadTimeoutMs = 100;
    static constexpr uint32_t kOpenRetryMs = 100;
    // call() answers this when the reply carries less than the outputs need.
    static constexpr int32_t kShortReply = 12;

    explicit StreamingRpcDevice(std::shared_ptr<StreamingInterface> stream);
    ~StreamingRpcDevice() override;

    bool start() override;
    bool stop() override;
    bool isReady() override;
    uint32_t openService(const std::string& name, uint32_t timeoutMs) override;
    bool closeService(uint32_t handle) override;
    int32_t call(uint32_t handle, uint32_t method, const void* input, uint32_t inputLength,
                 void* output, uint32_t outputLength, RpcBuffer* buffers,
                 uint32_t bufferCount) override;
    uint32_t exchangeWord(uint32_t value) override;
    void setTimeout(uint32_t ms) override;
    uint16_t productId() override;
    uint16_t vendorId() override;
    std::wstring identifier() override;

    const std::shared_ptr<StreamingInterface>& stream() const { return m_stream; }
    // Tests shorten the pauses between open attempts; the product keeps the system clock.
    void setClock(std::shared_ptr<CVN::USB::WaitClock> clock);

    // The one request mutex of this module.
    static std::shared_ptr<std::mutex> requestMutex();

private:
    // Writes the request and reads the reply; stream failures come out as RpcException.
    int32_t exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>* payload,
                     bool shortTimeout);

    std::shared_ptr<StreamingInterface> m_stream;
    std::shared_ptr<std::mutex> m_mutex;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
};

} // namespace VornOSRPC
