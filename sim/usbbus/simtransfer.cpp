#include "sim/usbbus/simtransfer.h"

#include "sim/usbbus/usbdstatus.h"

#include <chrono>
#include <cstring>

namespace Sim {

SimTransfer::SimTransfer(Kind kind, const ControlSetup& setup, uint8_t interfaceNumber,
                         uint8_t endpoint, std::vector<uint8_t> outData, uint32_t inLength)
    : m_kind(kind)
    , m_setup(setup)
    , m_interfaceNumber(interfaceNumber)
    , m_endpoint(endpoint)
    , m_outData(std::move(outData))
    , m_inLength(inLength)
{
}

bool SimTransfer::isCancelled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state == Abandoned;
}

void SimTransfer::setAsync(uint8_t* output, EndHandler onEnd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_output = output;
    m_onEnd = std::move(onEnd);
}

void SimTransfer::complete(uint32_t usbdStatus, const std::vector<uint8_t>& inData)
{
    EndHandler onEnd;
    uint32_t moved = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != Pending)
            return;
        m_state = Completed;
        m_status = usbdStatus;
        if (usbdStatus == 0) {
            size_t n = inData.size() < m_inLength ? inData.size() : m_inLength;
            if (m_shortBy > 0)
                n = size_t(m_shortBy) < n ? n - size_t(m_shortBy) : 0;
            m_inData.assign(inData.begin(), inData.begin() + long(n));
            // The host's buffer is still valid: it waits for the end handler.
            if (m_output && n)
                std::memcpy(m_output, m_inData.data(), n);
        }
        bool in = m_kind == BulkIn || (m_kind == Control && m_setup.isIn());
        if (usbdStatus == 0)
            moved = in ? uint32_t(m_inData.size()) : uint32_t(m_outData.size());
        onEnd = std::move(m_onEnd);
        m_ended.notify_all();
    }
    if (onEnd)
        onEnd(usbdStatus, moved);
}

bool SimTransfer::abandon(uint32_t usbdStatus)
{
    EndHandler onEnd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != Pending)
            return false;
        m_state = Abandoned;
        m_status = usbdStatus;
        onEnd = std::move(m_onEnd);
        m_ended.notify_all();
    }
    if (onEnd)
        onEnd(usbdStatus, 0);
    return true;
}

bool SimTransfer::waitFor(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto ended = [this] { return m_state != Pending; };
    if (timeoutMs == 0 || timeoutMs == 0xFFFFFFFFu) {
        m_ended.wait(lock, ended);
        return true;
    }
    return m_ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

uint32_t SimTransfer::status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

uint32_t SimTransfer::bytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != Completed || m_status != 0)
        return 0;
    bool in = m_kind == BulkIn || (m_kind == Control && m_setup.isIn());
    return in ? uint32_t(m_inData.size()) : uint32_t(m_outData.size());
}

std::vector<uint8_t> SimTransfer::inData() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inData;
}

} // namespace Sim
