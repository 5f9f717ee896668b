#include "sim/deckcontroller/deckcontrollerservices.h"

#include "platform/bytewriter.h"

#include <algorithm>

namespace Sim {

namespace {

void appendWord(std::vector<uint8_t>* payload, uint32_t value)
{
    const size_t at = payload->size();
    payload->resize(at + 4);
    Platform::ByteWriter(payload->data() + at, 4).u32(0, value);
}

// Text into a fixed field of the caller's output buffer: cut, zero-filled.
void appendField(std::vector<uint8_t>* payload, const std::string& text, const RpcCall& call)
{
    const size_t size = call.outputBufferSizes.empty() ? 0 : call.outputBufferSizes[0];
    std::vector<uint8_t> field(size, 0);
    std::copy_n(text.begin(), std::min(size, text.size()), field.begin());
    payload->insert(payload->end(), field.begin(), field.end());
}

} // namespace

void DeckControllerServices::install(XmegaRpcServer& server)
{
    server.addService("DeviceAccess", [this](const RpcCall& call, std::vector<uint8_t>* payload) {
        return deviceAccess(call, payload);
    });
    server.addService("Settings", [this](const RpcCall& call, std::vector<uint8_t>* payload) {
        return settings(call, payload);
    });
}

DeckControllerServices::State DeckControllerServices::state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

void DeckControllerServices::setState(const State& state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
}

int32_t DeckControllerServices::deviceAccess(const RpcCall& call, std::vector<uint8_t>* payload)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (call.method) {
    case 0:
        payload->push_back(m_state.applicationState);
        return 0;
    case 1:
        appendWord(payload, m_state.fpgaVersion);
        return 0;
    case 2:
        appendField(payload, m_state.releaseText, call);
        return 0;
    case 3:
        appendWord(payload, m_state.cpuChecksum);
        return 0;
    case 6: {
        if (call.inputBuffers.empty())
            return kUnknownMethod;
        const std::vector<uint8_t>& name = call.inputBuffers[0];
        if (name.size() > kNameField)
            return kNameTooLong;
        m_state.unitName.assign(name.begin(), name.end());
        return 0;
    }
    case 7:
        appendField(payload, m_state.unitName, call);
        return 0;
    default:
        return kUnknownMethod;
    }
}

int32_t DeckControllerServices::settings(const RpcCall& call, std::vector<uint8_t>*)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (call.method != 0)
        return kUnknownMethod;
    m_state.savedUnitName = m_state.unitName;
    ++m_state.saves;
    return 0;
}

} // namespace Sim
