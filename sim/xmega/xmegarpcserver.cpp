#include "sim/xmega/xmegarpcserver.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"

namespace Sim {

namespace {

std::vector<uint8_t> reply(int32_t result, const std::vector<uint8_t>& payload = {})
{
    std::vector<uint8_t> bytes(8 + payload.size(), 0);
    Platform::ByteWriter w(bytes.data(), bytes.size());
    w.u32(0, uint32_t(bytes.size()));
    w.u32(4, uint32_t(result));
    w.bytes(8, payload.data(), payload.size());
    return bytes;
}

std::vector<uint8_t> word(uint32_t value)
{
    std::vector<uint8_t> bytes(4, 0);
    Platform::ByteWriter(bytes.data(), 4).u32(0, value);
    return bytes;
}

} // namespace

XmegaRpcServer::XmegaRpcServer() = default;

void XmegaRpcServer::addService(const std::string& name, Service service)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services[name] = std::move(service);
}

void XmegaRpcServer::removeService(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services.erase(name);
}

void XmegaRpcServer::setOpenResult(const std::string& name, int32_t result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openResults[name] = result;
}

std::vector<uint8_t> XmegaRpcServer::lastRequest() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastRequest;
}

std::vector<RpcCall> XmegaRpcServer::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::map<uint32_t, std::string> XmegaRpcServer::openHandles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles;
}

std::vector<uint8_t> XmegaRpcServer::handle(const std::vector<uint8_t>& request)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastRequest = request;
    }
    return answer(request);
}

std::vector<uint8_t> XmegaRpcServer::answer(const std::vector<uint8_t>& request)
{
    Platform::ByteReader r(request.data(), request.size());
    uint32_t total = 0, type = 0;
    if (!r.u32(0, &total) || !r.u32(4, &type) || total != request.size())
        return reply(kMalformed);

    switch (type) {
    case 1: {
        uint8_t length = 0;
        const uint8_t* name = nullptr;
        if (!r.u8(8, &length) || !(name = r.at(9, length)) || request.size() != 9u + length)
            return reply(kMalformed);
        const std::string service(reinterpret_cast<const char*>(name), length);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_services.count(service))
            return reply(kNoService);
        auto refusal = m_openResults.find(service);
        if (refusal != m_openResults.end() && refusal->second != 0)
            return reply(refusal->second);
        const uint32_t handle = m_nextHandle++;
        m_handles[handle] = service;
        return reply(0, word(handle));
    }
    case 2: {
        RpcCall call;
        uint32_t count = 0;
        if (!r.u32(8, &call.handle) || !r.u32(12, &call.method) || !r.u32(20, &call.outputLength))
            return reply(kMalformed);
        uint32_t inputLength = 0;
        if (!r.u32(16, &inputLength) || !r.u32(24, &count) || count > request.size() / 4)
            return reply(kMalformed);
        size_t at = 28;
        for (uint32_t i = 0; i < count; ++i, at += 4) {
            uint32_t w = 0;
            if (!r.u32(at, &w))
                return reply(kMalformed);
            call.bufferWords.push_back(w);
        }
        const uint8_t* input = r.at(at, inputLength);
        if (!input)
            return reply(kMalformed);
        call.input.assign(input, input + inputLength);
        at += inputLength;
        for (uint32_t w : call.bufferWords) {
            const uint32_t size = w & 0x0FFFFFFF;
            if (w & 0x80000000) {
                const uint8_t* data = r.at(at, size);
                if (!data)
                    return reply(kMalformed);
                call.inputBuffers.emplace_back(data, data + size);
                at += size;
            }
            if (w & 0x40000000)
                call.outputBufferSizes.push_back(size);
        }
        if (at != request.size())
            return reply(kMalformed);
        Service service;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(call);
            auto h = m_handles.find(call.handle);
            if (h == m_handles.end())
                return reply(kBadHandle);
            auto s = m_services.find(h->second);
            if (s == m_services.end())
                return reply(kNoService);
            service = s->second;
        }
        std::vector<uint8_t> payload;
        const int32_t result = service(call, &payload);
        return reply(result, payload);
    }
    case 3: {
        uint32_t handle = 0;
        if (!r.u32(8, &handle) || request.size() != 12)
            return reply(kMalformed);
        std::lock_guard<std::mutex> lock(m_mutex);
        return reply(m_handles.erase(handle) ? 0 : kBadHandle);
    }
    case 4: {
        uint32_t value = 0;
        if (!r.u32(8, &value) || request.size() != 12)
            return reply(kMalformed);
        return reply(0, word(~value));
    }
    default:
        return reply(kMalformed);
    }
}

XmegaRpcServer::Service XmegaRpcServer::echoService()
{
    return [](const RpcCall& call, std::vector<uint8_t>* payload) -> int32_t {
        if (call.method == 2) {
            uint32_t result = 0;
            Platform::ByteReader(call.input.data(), call.input.size()).u32(0, &result);
            return int32_t(result);
        }
        if (call.method > 2)
            return 1;
        std::vector<uint8_t> source;
        for (const auto& b : call.inputBuffers)
            source.insert(source.end(), b.begin(), b.end());
        payload->assign(call.outputLength, 0);
        for (size_t i = 0; i < call.outputLength && i < call.input.size(); ++i)
            (*payload)[i] = call.input[i];
        size_t k = 0;
        for (uint32_t size : call.outputBufferSizes)
            for (uint32_t i = 0; i < size; ++i, ++k)
                payload->push_back(source.empty() ? 0 : uint8_t(source[k % source.size()] ^ 0x5A));
        if (call.method == 1 && !payload->empty())
            payload->pop_back();
        return 0;
    };
}

} // namespace Sim
