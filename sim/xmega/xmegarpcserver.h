#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Sim {

// One call as a service receives it.
struct RpcCall
{
    uint32_t handle = 0;
    uint32_t method = 0;
    std::vector<uint8_t> input;
    uint32_t outputLength = 0;
    std::vector<uint32_t> bufferWords;
    std::vector<std::vector<uint8_t>> inputBuffers;
    // Sizes of the buffers the caller wants filled, in order.
    std::vector<uint32_t> outputBufferSizes;
};

// The unit's side of the RPC: parses requests, keeps open service handles and answers with
// what the services return. Services are plugged in by name; a service gives a result and
// the reply payload (for a call: the output bytes, then every output buffer's bytes).
// Thread-safe; services run without the server's lock.
class XmegaRpcServer
{
public:
    using Service = std::function<int32_t(const RpcCall& call, std::vector<uint8_t>* payload)>;

    // Results of the unit's own: no such service, no such handle, malformed request.
    static constexpr int32_t kNoService = 5;
    static constexpr int32_t kBadHandle = 6;
    static constexpr int32_t kMalformed = 7;

    XmegaRpcServer();

    void addService(const std::string& name, Service service);
    void removeService(const std::string& name);
    // Opens of this service are answered with result until it is set back to 0.
    void setOpenResult(const std::string& name, int32_t result);

    // Answers one request message with one reply message.
    std::vector<uint8_t> handle(const std::vector<uint8_t>& request);

    std::vector<uint8_t> lastRequest() const;
    std::vector<RpcCall> calls() const;
    // Service names by handle, for the handles currently open.
    std::map<uint32_t, std::string> openHandles() const;

    // "Echo": method 0 copies the input into the output (cut or padded with zeros) and fills
    // every output buffer with the bytes of the input buffers XOR 0x5A, repeated; method 1
    // answers one byte short of what the outputs need; method 2 answers the input's first
    // u32 as its result.
    static Service echoService();

private:
    std::vector<uint8_t> answer(const std::vector<uint8_t>& request);

    mutable std::mutex m_mutex;
    std::map<std::string, Service> m_services;
    std::map<std::string, int32_t> m_openResults;
    std::map<uint32_t, std::string> m_handles;
    uint32_t m_nextHandle = 1;
    std::vector<uint8_t> m_lastRequest;
    std::vector<RpcCall> m_calls;
};

} // namespace Sim
