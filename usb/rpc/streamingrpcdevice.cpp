#include "usb/rpc/streamingrpcdevice.h"

#include "platform/bytereader.h"
#include "usb/rpc/rpcexception.h"
#include "usb/rpc/rpcmessage.h"
#include "usb/rpc/streaminginterface.h"
#include "usb/rpc/usbrpclog.h"
#include "usb/rpc/vornosrpcexception.h"

namespace VornOSRPC {

namespace {

template<typename F> auto forwardIncompatible(F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const IncompatiableProtocolException&) {
        throw RpcRequestIncompatibleException();
    }
}

} // namespace

std::shared_ptr<std::mutex> StreamingRpcDevice::requestMutex()
{
    static const std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    return mutex;
}

StreamingRpcDevice::StreamingRpcDevice(std::shared_ptr<StreamingInterface> stream)
    : m_stream(std::move(stream))
    , m_mutex(requestMutex())
    , m_clock(CVN::USB::WaitClock::system())
{
}

StreamingRpcDevice::~StreamingRpcDevice() = default;

void StreamingRpcDevice::setClock(std::shared_ptr<CVN::USB::WaitClock> clock)
{
    m_clock = clock ? std::move(clock) : CVN::USB::WaitClock::system();
}

bool StreamingRpcDevice::start()
{
    return forwardIncompatible([&] { return m_stream->start(); });
}

bool StreamingRpcDevice::stop()
{
    return forwardIncompatible([&] { return m_stream->stop(); });
}

bool StreamingRpcDevice::isReady()
{
    return forwardIncompatible([&] { return m_stream->waitReady(0); });
}

void StreamingRpcDevice::setTimeout(uint32_t ms)
{
    forwardIncompatible([&] { m_stream->setTimeout(ms); });
}

uint16_t StreamingRpcDevice::productId()
{
    return m_stream->productId();
}

uint16_t StreamingRpcDevice::vendorId()
{
    return m_stream->vendorId();
}

std::wstring StreamingRpcDevice::identifier()
{
    return m_stream->identifier();
}

int32_t StreamingRpcDevice::exchange(const std::vector<uint8_t>& request,
                                     std::vector<uint8_t>* payload, bool shortTimeout)
{
    std::vector<uint8_t> reply;
    try {
        if (shortTimeout)
            m_stream->setTimeout(kShortReadTimeoutMs);
        if (!m_stream->writeStream(request))
            throw RpcException("Failed to write to device");
        if (!m_stream->readStream(reply))
            throw RpcException("Failed to read from device");
    } catch (const RequestTimedOutException&) {
        throw RpcRequestTimedOutException();
    } catch (const IncompatiableProtocolException&) {
        throw RpcRequestIncompatibleException();
    } catch (const Exception& e) {
        throw RpcException(e.what());
    }
    int32_t result = 0;
    size_t offset = 0;
    // A reply without its result word is no answer at all.
    if (!RpcMessage::parseReply(reply, &result, &offset))
        throw RpcException("Failed to read from device");
    payload->assign(reply.begin() + long(offset), reply.end());
    return result;
}

uint32_t StreamingRpcDevice::openService(const std::string& name, uint32_t timeoutMs)
{
    const std::vector<uint8_t> request = RpcMessage::openService(name);
    if (request.empty())
        return kInvalidHandle;
    std::lock_guard<std::mutex> lock(*m_mutex);
    std::vector<uint8_t> payload;
    // A refused or unanswered open is asked again until the limit passes.
    const auto opened = m_clock->pollUntil(
        timeoutMs == kWaitForever ? CVN::USB::WaitClock::kForever : timeoutMs, kOpenRetryMs, [&] {
            try {
                if (exchange(request, &payload, true) == 0)
                    return CVN::USB::WaitClock::Poll::Ready;
            } catch (const RpcRequestTimedOutException&) {
            }
            return CVN::USB::WaitClock::Poll::Again;
        });
    if (opened != CVN::USB::WaitClock::PollResult::Ready) {
        qCWarning(lcUsbRpc, "service \"%s\" did not open within %u ms", name.c_str(), timeoutMs);
        if (timeoutMs == 0)
            return kInvalidHandle;
        throw RpcRequestTimedOutException();
    }
    uint32_t handle = kInvalidHandle;
    if (payload.size() != 4 || !Platform::ByteReader(payload.data(), 4).u32(0, &handle)) {
        qCWarning(lcUsbRpc, "service \"%s\" opened with a reply of %zu bytes, no handle",
                  name.c_str(), payload.size());
        return kInvalidHandle;
    }
    return handle;
}

bool StreamingRpcDevice::closeService(uint32_t handle)
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    std::vector<uint8_t> payload;
    try {
        return exchange(RpcMessage::closeService(handle), &payload, true) == 0;
    } catch (const RpcException&) {
        return false;
    }
}

uint32_t StreamingRpcDevice::exchangeWord(uint32_t value)
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    std::vector<uint8_t> payload;
    try {
        uint32_t word = 0;
        if (exchange(RpcMessage::exchangeWord(value), &payload, true) == 0 && payload.size() == 4 &&
            Platform::ByteReader(payload.data(), 4).u32(0, &word))
            return word;
    } catch (const RpcRequestTimedOutException&) {
    }
    return 0xFFFFFFFF;
}

int32_t StreamingRpcDevice::call(uint32_t handle, uint32_t method, const void* input,
                                 uint32_t inputLength, void* output, uint32_t outputLength,
                                 RpcBuffer* buffers, uint32_t bufferCount)
{
    const std::vector<uint8_t> request =
        RpcMessage::call(handle, method, input, inputLength, outputLength, buffers, bufferCount);
    if (request.empty())
        throw RpcException("Request too large");
    std::lock_guard<std::mutex> lock(*m_mutex);
    std::vector<uint8_t> payload;
    const int32_t result = exchange(request, &payload, false);
    if (result != 0)
        return result;
    if (!RpcMessage::distributeCallReply(payload.data(), payload.size(), output, outputLength,
                                         buffers, bufferCount))
        return kShortReply;
    return 0;
}

} // namespace VornOSRPC
