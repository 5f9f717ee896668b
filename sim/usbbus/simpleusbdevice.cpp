#include "sim/usbbus/simpleusbdevice.h"

#include "sim/usbbus/usbdstatus.h"

#include <utility>

namespace Sim {

namespace {
// The work deferred by the control request this thread is answering, if any.
thread_local std::vector<std::function<void()>>* t_afterAnswer = nullptr;
} // namespace

SimpleUsbDevice::SimpleUsbDevice(DeviceIdentity identity, std::vector<uint8_t> configuration)
    : m_identity(std::move(identity))
    , m_configuration(std::move(configuration))
{
}

SimpleUsbDevice::~SimpleUsbDevice() = default;

DeviceIdentity SimpleUsbDevice::identity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_identity;
}

std::vector<uint8_t> SimpleUsbDevice::configurationDescriptor(uint8_t index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return index == 0 ? m_configuration : std::vector<uint8_t>();
}

void SimpleUsbDevice::setConfiguration(std::vector<uint8_t> configuration)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_configuration = std::move(configuration);
}

void SimpleUsbDevice::setString(uint8_t index, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strings[index] = text;
}

void SimpleUsbDevice::onControl(uint8_t requestType, uint8_t request, ControlHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_control[uint16_t(requestType << 8 | request)] = std::move(handler);
}

void SimpleUsbDevice::onBulkOut(uint8_t endpoint, BulkOutHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bulkOut[endpoint] = std::move(handler);
}

void SimpleUsbDevice::attached(UsbBus* bus, DeviceId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bus = bus;
    m_id = id;
}

void SimpleUsbDevice::detached()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_id = 0;
    m_reads.clear();
    // A device that leaves the bus loses what its endpoints held: a reply queued for a read
    // that never came must not answer the first read after it comes back.
    m_inData.clear();
}

UsbBus* SimpleUsbDevice::bus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bus;
}

DeviceId SimpleUsbDevice::id() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_id;
}

bool SimpleUsbDevice::isAttached() const
{
    return id() != 0;
}

uint32_t SimpleUsbDevice::standardRequest(const ControlSetup& setup, std::vector<uint8_t>* in)
{
    if (setup.requestType != 0x80 || setup.request != 6)
        return Usbd::kStall;
    const uint8_t type = uint8_t(setup.value >> 8);
    const uint8_t index = uint8_t(setup.value);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (type == 1) {
        const DeviceIdentity& d = m_identity;
        *in = {18,
               1,
               0x00,
               0x02,
               d.deviceClass,
               d.deviceSubClass,
               d.deviceProtocol,
               64,
               uint8_t(d.vendorId),
               uint8_t(d.vendorId >> 8),
               uint8_t(d.productId),
               uint8_t(d.productId >> 8),
               uint8_t(d.revision),
               uint8_t(d.revision >> 8),
               0,
               0,
               d.serialNumberIndex,
               d.configurationCount};
        return Usbd::kSuccess;
    }
    if (type == 2 && index == 0) {
        *in = m_configuration;
        return Usbd::kSuccess;
    }
    if (type == 3 && index == 0) {
        *in = {4, 3, 0x09, 0x04};
        return Usbd::kSuccess;
    }
    if (type == 3) {
        auto it = m_strings.find(index);
        if (it == m_strings.end())
            return Usbd::kStall;
        size_t units = it->second.size() < 126 ? it->second.size() : 126;
        in->assign(2 + 2 * units, 0);
        (*in)[0] = uint8_t(2 + 2 * units);
        (*in)[1] = 3;
        for (size_t i = 0; i < units; ++i)
            (*in)[2 + 2 * i] = uint8_t(it->second[i]);
        return Usbd::kSuccess;
    }
    return Usbd::kStall;
}

void SimpleUsbDevice::control(const TransferPtr& transfer)
{
    const ControlSetup setup = transfer->setup();
    ControlHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_control.find(uint16_t(setup.requestType << 8 | setup.request));
        if (it != m_control.end())
            handler = it->second;
    }
    std::vector<std::function<void()>> deferred;
    std::vector<std::function<void()>>* const outer = std::exchange(t_afterAnswer, &deferred);
    std::vector<uint8_t> in;
    uint32_t status =
        handler ? handler(setup, transfer->outData(), &in) : standardRequest(setup, &in);
    if (status != kNoReply)
        transfer->complete(status, in);
    t_afterAnswer = outer;
    for (auto& work : deferred)
        work();
}

void SimpleUsbDevice::afterAnswer(std::function<void()> work)
{
    if (t_afterAnswer)
        t_afterAnswer->push_back(std::move(work));
    else
        work();
}

void SimpleUsbDevice::bulk(const TransferPtr& transfer)
{
    const uint8_t endpoint = transfer->endpoint();
    if (transfer->kind() == Transfer::BulkOut) {
        BulkOutHandler handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_bulkOut.find(endpoint);
            if (it != m_bulkOut.end())
                handler = it->second;
            else
                m_outData[endpoint].push_back(transfer->outData());
        }
        uint32_t status = handler ? handler(transfer->outData()) : Usbd::kSuccess;
        if (status != kNoReply)
            transfer->complete(status);
        return;
    }
    std::vector<std::pair<TransferPtr, std::vector<uint8_t>>> ready;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reads[endpoint].push_back(transfer);
        feedLocked(endpoint, &ready);
    }
    for (auto& r : ready)
        r.first->complete(Usbd::kSuccess, r.second);
}

void SimpleUsbDevice::queueIn(uint8_t endpoint, std::vector<uint8_t> data)
{
    std::vector<std::pair<TransferPtr, std::vector<uint8_t>>> ready;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inData[endpoint].push_back(std::move(data));
        feedLocked(endpoint, &ready);
    }
    for (auto& r : ready)
        r.first->complete(Usbd::kSuccess, r.second);
}

void SimpleUsbDevice::feedLocked(uint8_t endpoint,
                                 std::vector<std::pair<TransferPtr, std::vector<uint8_t>>>* ready)
{
    auto& reads = m_reads[endpoint];
    auto& data = m_inData[endpoint];
    while (!reads.empty() && !data.empty()) {
        TransferPtr read = reads.front();
        reads.pop_front();
        if (read->isCancelled())
            continue;
        std::vector<uint8_t>& block = data.front();
        const size_t n = block.size() < read->inLength() ? block.size() : read->inLength();
        ready->emplace_back(read, std::vector<uint8_t>(block.begin(), block.begin() + long(n)));
        block.erase(block.begin(), block.begin() + long(n));
        if (block.empty())
            data.pop_front();
    }
}

std::vector<std::vector<uint8_t>> SimpleUsbDevice::bulkOutData(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_outData.find(endpoint);
    return it == m_outData.end() ? std::vector<std::vector<uint8_t>>() : it->second;
}

int SimpleUsbDevice::waitingReads(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_reads.find(endpoint);
    if (it == m_reads.end())
        return 0;
    int n = 0;
    for (const auto& t : it->second)
        n += t->isCancelled() ? 0 : 1;
    return n;
}

} // namespace Sim
