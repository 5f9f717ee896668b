#include "sim/novarecorder/novakeyvaluefunction.h"

#include "sim/usbbus/usbdstatus.h"

namespace Sim {

NovaKeyValueFunction::NovaKeyValueFunction() = default;

std::vector<uint8_t> NovaKeyValueFunction::descriptorBody(uint8_t length) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> body(length > 2 ? length - 2 : 0, 0);
    for (size_t i = 0; i < 4 && i < body.size(); ++i)
        body[i] = uint8_t(m_capabilities >> (8 * i));
    return body;
}

void NovaKeyValueFunction::setCapabilities(uint32_t capabilities)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capabilities = capabilities;
}

void NovaKeyValueFunction::setStatus(uint8_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
}

void NovaKeyValueFunction::setValue(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[key] = value;
}

std::string NovaKeyValueFunction::value(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

std::vector<std::string> NovaKeyValueFunction::keysAsked() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_asked;
}

uint32_t NovaKeyValueFunction::control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                                       std::vector<uint8_t>* in)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    in->assign(setup.isIn() ? setup.length : 0, 0);
    switch (setup.requestType << 8 | setup.request) {
    case 0xA100:
        if (!in->empty())
            (*in)[0] = m_status;
        return Usbd::kSuccess;
    case 0xA101: {
        const uint16_t handle = m_nextHandle++;
        m_handles[handle] = std::string();
        if (in->size() >= 2) {
            (*in)[0] = uint8_t(handle);
            (*in)[1] = uint8_t(handle >> 8);
        }
        return Usbd::kSuccess;
    }
    case 0x2102: {
        auto it = m_handles.find(setup.value);
        if (it == m_handles.end())
            return Usbd::kStall;
        it->second.assign(out.begin(), out.end());
        m_asked.push_back(it->second);
        return Usbd::kSuccess;
    }
    case 0xA103: {
        auto it = m_handles.find(setup.value);
        if (it == m_handles.end())
            return Usbd::kStall;
        auto v = m_values.find(it->second);
        const std::string text = v == m_values.end() ? std::string() : v->second;
        for (size_t i = 0; i < text.size() && i < in->size(); ++i)
            (*in)[i] = uint8_t(text[i]);
        m_handles.erase(it);
        return Usbd::kSuccess;
    }
    default:
        return Usbd::kStall;
    }
}

} // namespace Sim
