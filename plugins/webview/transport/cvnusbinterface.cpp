#include "plugins/webview/transport/cvnusbinterface.h"

#include "plugins/webview/transport/usbcompletionthread.h"
#include "plugins/webview/transport/usbcontrolrequestbuilder.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <unordered_set>

using namespace CVN::USB;

namespace CVN {
namespace AbstractUSB {
namespace CVNUSB {

namespace {
constexpr uint32_t kNoTimeout = 0xFFFFFFFF;
constexpr uint8_t kBulk = 2;
} // namespace

// A started asynchronous transfer: the caller's completion until the layer reports the end.
struct CVNUSBInterface::Pending
{
    const CVNUSBInterface* owner = nullptr;
    ReadCompletion read;
    WriteCompletion written;
};

namespace {

// The transfers started and not yet told, module-wide. Whoever takes a record out of here
// owns it: the completion routine, or the interface's destructor once the layer can no
// longer complete it.
struct PendingSet
{
    std::mutex mutex;
    std::unordered_set<void*> records;
};

PendingSet& pendingSet()
{
    static PendingSet set;
    return set;
}

} // namespace

CVNUSBInterface::CVNUSBInterface(IUSBInterface* interface, IUSBDevice* device)
    : m_interface(interface)
    , m_device(device)
{
    if (!m_interface || !m_device || m_interface->interfaceNumber(&m_number) != kCVNUsbSuccess) {
        if (m_interface)
            m_interface->Release();
        throw std::runtime_error("Couldn't get interface number");
    }
    m_device->AddRef();
}

CVNUSBInterface::~CVNUSBInterface()
{
    // Destroying the layer's interface cancels what is still pending without telling it;
    // a completion already under way finishes first (it holds the device's event lock).
    const uint32_t left = m_interface->Release();
    std::vector<Pending*> orphans;
    {
        PendingSet& set = pendingSet();
        std::lock_guard<std::mutex> lock(set.mutex);
        for (auto it = set.records.begin(); it != set.records.end();) {
            auto* record = static_cast<Pending*>(*it);
            if (record->owner != this) {
                ++it;
                continue;
            }
            if (left == 0) {
                orphans.push_back(record);
                it = set.records.erase(it);
            } else {
                // Someone else keeps the interface alive: its transfers may still end. They
                // are freed then, without calling back into a caller that has gone.
                record->owner = nullptr;
                record->read = nullptr;
                record->written = nullptr;
                ++it;
            }
        }
    }
    for (Pending* record : orphans)
        delete record;
    {
        std::lock_guard<std::mutex> lock(m_asyncMutex);
        if (m_asyncReady)
            WebViewUsb::UsbCompletionThread::instance().detach(m_device);
    }
    m_device->Release();
}

bool CVNUSBInterface::open()
{
    return m_interface->open() == kCVNUsbSuccess;
}

bool CVNUSBInterface::close()
{
    return m_interface->close() == kCVNUsbSuccess;
}

uint8_t CVNUSBInterface::interfaceClass()
{
    uint8_t value = 0;
    if (m_interface->interfaceClass(&value) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to get USB interface class");
    return value;
}

uint8_t CVNUSBInterface::interfaceSubclass()
{
    uint8_t value = 0;
    if (m_interface->interfaceSubclass(&value) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to get USB interface class");
    return value;
}

std::vector<USBPipe> CVNUSBInterface::pipes()
{
    uint8_t count = 0;
    if (m_interface->GetNumEndpoints(&count) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to get endpoints (GetNumEndpoints)");
    std::vector<USBPipe> list;
    for (uint8_t i = 1; i <= count && i != 0; ++i) {
        uint8_t direction = 0, type = 0, interval = 0;
        uint16_t maxPacket = 0;
        if (m_interface->GetPipeProperties(i, &direction, &type, &maxPacket, &interval) !=
            kCVNUsbSuccess)
            throw std::runtime_error("Failed to get endpoints (GetPipeProperties)");
        if (direction > 1)
            throw std::runtime_error("Failed to get USB direction");
        USBPipe pipe;
        pipe.pipe = i;
        pipe.direction = direction;
        pipe.maxPacketSize = maxPacket >= kShiftedPacketSize ? uint16_t(maxPacket >> 4) : maxPacket;
        pipe.bulk = type == kBulk;
        list.push_back(pipe);
    }
    return list;
}

USBResult CVNUSBInterface::resetPipe(uint8_t pipe)
{
    return usbResultFromStatus(m_interface->resetPipe(pipe));
}

bool CVNUSBInterface::prepareAsync()
{
    std::lock_guard<std::mutex> lock(m_asyncMutex);
    if (m_asyncReady)
        return true;
    auto& thread = WebViewUsb::UsbCompletionThread::instance();
    if (!thread.attach(m_device))
        return false;
    if (m_interface->registerForAsyncEvents() != kCVNUsbSuccess) {
        thread.detach(m_device);
        return false;
    }
    m_asyncReady = true;
    return true;
}

void CVNUSBInterface::completed(uint32_t status, uint32_t bytes, void* context)
{
    {
        PendingSet& set = pendingSet();
        std::lock_guard<std::mutex> lock(set.mutex);
        // Not there: the interface's destructor has taken it.
        if (!set.records.erase(context))
            return;
    }
    std::unique_ptr<Pending> record(static_cast<Pending*>(context));
    const USBResult result = usbResultFromStatus(status);
    if (record->read)
        record->read(result, result == kUSBSuccess ? bytes : 0);
    else if (record->written)
        record->written(result);
}

USBResult CVNUSBInterface::startAsync(bool write, uint8_t pipe, const void* data, void* buffer,
                                      uint32_t length, ReadCompletion read, WriteCompletion written)
{
    if (!prepareAsync())
        return kUSBFailure;
    if (!read && !written) {
        const CVNUsbStatus status =
            write ? m_interface->writePipeAsync(pipe, data, length, nullptr, nullptr)
                  : m_interface->readPipeAsync(pipe, buffer, length, nullptr, nullptr);
        return usbResultFromStatus(status);
    }
    auto* record = new (std::nothrow) Pending;
    if (!record)
        return kUSBFailure;
    record->owner = this;
    record->read = std::move(read);
    record->written = std::move(written);
    PendingSet& set = pendingSet();
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        set.records.insert(record);
    }
    const CVNUsbStatus status =
        write ? m_interface->writePipeAsync(pipe, data, length, &completed, record)
              : m_interface->readPipeAsync(pipe, buffer, length, &completed, record);
    if (status != kCVNUsbSuccess) {
        // A refused start is never told.
        {
            std::lock_guard<std::mutex> lock(set.mutex);
            set.records.erase(record);
        }
        delete record;
    }
    return usbResultFromStatus(status);
}

USBResult CVNUSBInterface::readAsync(uint8_t pipe, void* buffer, uint32_t length,
                                     ReadCompletion completion)
{
    return startAsync(false, pipe, nullptr, buffer, length, std::move(completion), nullptr);
}

USBResult CVNUSBInterface::writeAsync(uint8_t pipe, const void* data, uint32_t length,
                                      WriteCompletion completion)
{
    return startAsync(true, pipe, data, nullptr, length, nullptr, std::move(completion));
}

std::pair<USBResult, uint32_t> CVNUSBInterface::read(uint8_t pipe, void* buffer, uint32_t length)
{
    uint32_t moved = length;
    const CVNUsbStatus status = m_interface->readPipe(pipe, buffer, &moved, kNoTimeout, kNoTimeout);
    return {usbResultFromStatus(status), status == kCVNUsbSuccess ? moved : 0};
}

USBResult CVNUSBInterface::write(uint8_t pipe, const void* data, uint32_t length)
{
    return usbResultFromStatus(m_interface->writePipe(pipe, data, length, kNoTimeout, kNoTimeout));
}

USBResult CVNUSBInterface::writeWithin(uint8_t pipe, const void* data, uint32_t length,
                                       std::chrono::milliseconds limit)
{
    // At least 1 ms: 0 would mean no limit to the driver.
    const auto ms = std::max<std::chrono::milliseconds::rep>(limit.count(), 1);
    const uint32_t timeout = uint32_t(std::min<std::chrono::milliseconds::rep>(ms, kNoTimeout - 1));
    return usbResultFromStatus(m_interface->writePipe(pipe, data, length, timeout, timeout));
}

USBResult CVNUSBInterface::controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                                           uint16_t length, uint32_t* transferred)
{
    return usbResultFromStatus(WebViewUsb::sendInterfaceRequest(
        m_device, in ? WebViewUsb::Direction::In : WebViewUsb::Direction::Out, m_number, request,
        value, buffer, length, kControlTimeoutMs, transferred));
}

USBResult CVNUSBInterface::controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                                           uint16_t length)
{
    return controlTransfer(in, request, value, buffer, length, nullptr);
}

} // namespace CVNUSB
} // namespace AbstractUSB
} // namespace CVN
