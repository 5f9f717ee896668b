#include "usb/driver/cusbinterface.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "usb/driver/asynceventlistener.h"
#include "usb/driver/asyncrequest.h"
#include "usb/driver/cusbdevice.h"
#include "usb/driver/descriptorwalk.h"
#include "usb/driver/driverconnection.h"
#include "usb/driver/driverprotocol.h"

#include <algorithm>
#include <new>

namespace CVN {
namespace USB {

CUSBInterface::CUSBInterface(CUSBDevice* device, uint32_t interfaceId)
    : m_connection(device->connection())
    , m_device(device)
    , m_id(interfaceId)
{
    m_device->AddRef();
}

CUSBInterface::~CUSBInterface()
{
    if (m_registered)
        m_device->removeAsyncInterface(this);
    std::vector<AsyncRequest*> pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_listener.reset();
        pending.swap(m_pending);
    }
    // The driver may still write into a request's buffers: each one is cancelled and waited
    // for before it is freed. Callbacks are not called.
    for (AsyncRequest* request : pending)
        m_connection->port->cancel(m_connection->handle, &request->overlapped);
    for (AsyncRequest* request : pending) {
        request->overlapped.result(nullptr, nullptr);
        delete request;
    }
    if (m_claimed)
        close();
    m_device->Release();
}

uint32_t CUSBInterface::AddRef()
{
    return ++m_refs;
}

uint32_t CUSBInterface::Release()
{
    const uint32_t count = --m_refs;
    if (count == 0)
        delete this;
    return count;
}

CVNUsbStatus CUSBInterface::byteProperty(uint32_t function, uint8_t* value) const
{
    uint32_t word = 0;
    if (!value || !m_connection->readWord(function, m_id, &word))
        return kCVNUsbError;
    *value = uint8_t(word);
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::interfaceClass(uint8_t* value)
{
    return byteProperty(DriverFunction::kInterfaceClass, value);
}

CVNUsbStatus CUSBInterface::interfaceNumber(uint8_t* value)
{
    return byteProperty(DriverFunction::kInterfaceNumber, value);
}

CVNUsbStatus CUSBInterface::byteProperty832(uint8_t* value)
{
    return byteProperty(DriverFunction::kInterfaceByte832, value);
}

CVNUsbStatus CUSBInterface::byteProperty833(uint8_t* value)
{
    return byteProperty(DriverFunction::kInterfaceByte833, value);
}

CVNUsbStatus CUSBInterface::interfaceSubclass(uint8_t* value)
{
    return byteProperty832(value);
}

CVNUsbStatus CUSBInterface::interfaceProtocol(uint8_t* value)
{
    return byteProperty833(value);
}

CVNUsbStatus CUSBInterface::GetNumEndpoints(uint8_t* count)
{
    return byteProperty(DriverFunction::kEndpointCount, count);
}

CVNUsbStatus CUSBInterface::GetPipeProperties(uint8_t pipe, uint8_t* direction,
                                              uint8_t* transferType, uint16_t* maxPacketSize,
                                              uint8_t* fourth)
{
    uint8_t in[8];
    Platform::ByteWriter w(in, sizeof in);
    w.u32(0, m_id);
    w.u32(4, pipe);
    uint8_t reply[6] = {};
    Platform::IoStatus s = m_connection->ioControl(DriverFunction::kPipeProperties, in, sizeof in,
                                                   reply, sizeof reply);
    if (!s.ok || s.bytesReturned != sizeof reply)
        return kCVNUsbError;
    Platform::ByteReader r(reply, sizeof reply);
    if (direction)
        r.u8(0, direction);
    if (transferType)
        r.u8(1, transferType);
    if (maxPacketSize)
        r.u16(2, maxPacketSize);
    if (fourth)
        r.u8(4, fourth);
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::resetPipe(uint8_t pipe)
{
    uint8_t in[8];
    Platform::ByteWriter w(in, sizeof in);
    w.u32(0, m_id);
    w.u32(4, pipe);
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kResetPipe, in, sizeof in, nullptr, 0);
    return s.ok ? kCVNUsbSuccess : kCVNUsbError;
}

void CUSBInterface::fillBlock(uint8_t* block, uint8_t pipe, uint32_t length, uint32_t timeout,
                              uint32_t timeout2) const
{
    Platform::ByteWriter w(block, kPipeTransferBlockSize);
    w.u8(0, uint8_t(m_id));
    w.u8(1, pipe);
    w.u16(2, 0);
    w.u32(4, length);
    w.u32(8, timeout);
    w.u32(12, timeout2);
}

CVNUsbStatus CUSBInterface::readPipe(uint8_t pipe, void* buffer, uint32_t* length, uint32_t timeout,
                                     uint32_t timeout2)
{
    if (!length)
        return kCVNUsbBadArgument;
    uint8_t block[kPipeTransferBlockSize];
    fillBlock(block, pipe, *length, timeout, timeout2);
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kReadPipe, block, sizeof block, buffer, *length);
    if (!s.ok)
        return s.lastError == Platform::kErrorSemTimeout ? kCVNUsbTransactionTimeout : kCVNUsbError;
    // More than was asked for cannot have fitted: the count is not to be believed.
    if (s.bytesReturned > *length)
        return kCVNUsbError;
    *length = s.bytesReturned;
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::writePipe(uint8_t pipe, const void* data, uint32_t length,
                                      uint32_t timeout, uint32_t timeout2)
{
    std::vector<uint8_t> request;
    try {
        request.assign(kPipeTransferBlockSize + size_t(length), 0);
    } catch (const std::bad_alloc&) {
        return kCVNUsbError;
    }
    fillBlock(request.data(), pipe, length, timeout, timeout2);
    if (length && data)
        std::copy_n(static_cast<const uint8_t*>(data), length,
                    request.data() + kPipeTransferBlockSize);
    Platform::IoStatus s = m_connection->ioControl(DriverFunction::kWritePipe, request.data(),
                                                   uint32_t(request.size()), nullptr, 0);
    if (s.ok && s.bytesReturned == length)
        return kCVNUsbSuccess;
    return !s.ok && s.lastError == Platform::kErrorSemTimeout ? kCVNUsbTransactionTimeout
                                                              : kCVNUsbError;
}

CVNUsbStatus CUSBInterface::readPipeAsync(uint8_t pipe, void* buffer, uint32_t length,
                                          CVNUsbCompletion completion, void* context)
{
    return startAsync(DriverFunction::kReadPipeAsync, pipe, nullptr, buffer, length, completion,
                      context);
}

CVNUsbStatus CUSBInterface::writePipeAsync(uint8_t pipe, const void* data, uint32_t length,
                                           CVNUsbCompletion completion, void* context)
{
    return startAsync(DriverFunction::kWritePipeAsync, pipe, data, nullptr, length, completion,
                      context);
}

CVNUsbStatus CUSBInterface::startAsync(uint32_t function, uint8_t pipe, const void* data,
                                       void* buffer, uint32_t length, CVNUsbCompletion completion,
                                       void* context)
{
    const bool write = function == DriverFunction::kWritePipeAsync;
    std::unique_ptr<AsyncRequest> request(new (std::nothrow) AsyncRequest(
        completion, context, length, [this](AsyncRequest* r) { requestSignalled(r); }));
    if (!request)
        return kCVNUsbError;
    try {
        request->buffer.assign(kPipeTransferBlockSize + (write ? size_t(length) : 0), 0);
    } catch (const std::bad_alloc&) {
        return kCVNUsbError;
    }
    fillBlock(request->buffer.data(), pipe, length, 0, 0);
    if (write && length && data)
        std::copy_n(static_cast<const uint8_t*>(data), length,
                    request->buffer.data() + kPipeTransferBlockSize);
    std::lock_guard<std::mutex> lock(m_mutex);
    // Refused rather than let the pending list grow past what the completion path carries.
    if (m_pending.size() >= kMaxPendingRequests)
        return kCVNUsbNoResources;
    Platform::IoStatus s = m_connection->port->ioControlAsync(
        m_connection->handle, driverCode(function), request->buffer.data(),
        uint32_t(request->buffer.size()), write ? nullptr : buffer, write ? 0 : length,
        &request->overlapped);
    // Only a pending start is ever completed; any other answer, "ok" included, means the
    // request never ran.
    if (s.ok || s.lastError != Platform::kErrorIoPending)
        return kCVNUsbError;
    m_pending.push_back(request.release());
    return kCVNUsbSuccess;
}

void CUSBInterface::requestSignalled(AsyncRequest* request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A message that could not go out is tried again when a sink is next set.
    if (m_listener && !request->posted)
        request->posted = m_listener->post(request->event());
}

CVNUsbStatus CUSBInterface::open()
{
    uint8_t in[4];
    Platform::ByteWriter(in, sizeof in).u32(0, m_id);
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kClaimInterface, in, sizeof in, nullptr, 0);
    if (s.ok) {
        m_claimed = true;
        return kCVNUsbSuccess;
    }
    return s.lastError == Platform::kErrorBusy ? kCVNUsbExclusiveAccess : kCVNUsbError;
}

CVNUsbStatus CUSBInterface::close()
{
    uint8_t in[4];
    Platform::ByteWriter(in, sizeof in).u32(0, m_id);
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kReleaseInterface, in, sizeof in, nullptr, 0);
    m_claimed = false;
    return s.ok ? kCVNUsbSuccess : kCVNUsbError;
}

const uint8_t* CUSBInterface::findDescriptor(const uint8_t* previous, uint8_t type)
{
    const std::vector<uint8_t>* configuration = m_device->configurationDescriptor(0);
    if (!configuration)
        return nullptr;
    return DescriptorWalk(configuration->data(), configuration->size()).find(m_id, previous, type);
}

const uint8_t* CUSBInterface::findClassDescriptor(uint8_t type, uint32_t index)
{
    const uint8_t* found = nullptr;
    for (uint32_t i = 0; i <= index; ++i) {
        found = findDescriptor(found, type);
        if (!found)
            return nullptr;
    }
    return found;
}

CVNUsbStatus CUSBInterface::registerForAsyncEvents()
{
    if (m_device->addAsyncInterface(this) != kCVNUsbSuccess)
        return kCVNUsbError;
    m_registered = true;
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::unregisterForAsyncEvents()
{
    m_device->removeAsyncInterface(this);
    m_registered = false;
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::pendingAsyncEvents(CVNUsbEvent* events, int32_t capacity,
                                               uint32_t* count)
{
    if (!events || !count)
        return kCVNUsbBadArgument;
    std::lock_guard<std::mutex> lock(m_mutex);
    *count = uint32_t(m_pending.size());
    if (capacity < 0 || size_t(capacity) < m_pending.size())
        return kCVNUsbBadArgument;
    for (size_t i = 0; i < m_pending.size(); ++i)
        events[i] = m_pending[i]->event();
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::completeAsyncRequest(CVNUsbEvent event)
{
    if (!event)
        return kCVNUsbBadArgument;
    std::unique_ptr<AsyncRequest> request;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_pending.begin(), m_pending.end(),
                               [event](AsyncRequest* r) { return r->event() == event; });
        if (it == m_pending.end())
            return kCVNUsbBadArgument;
        request.reset(*it);
        m_pending.erase(it);
    }
    uint32_t bytes = 0;
    uint32_t lastError = 0;
    CVNUsbStatus status = kCVNUsbSuccess;
    if (!request->overlapped.result(&bytes, &lastError))
        status = lastError == Platform::kErrorOperationAborted ? kCVNUsbAborted : kCVNUsbError;
    // More than was asked for cannot have fitted: the count is not to be believed.
    else if (bytes > request->length)
        status = kCVNUsbError;
    if (status != kCVNUsbSuccess)
        bytes = 0;
    const CVNUsbCompletion completion = request->completion;
    void* const context = request->context;
    request.reset();
    // Last: the callback may release this interface.
    if (completion)
        completion(status, bytes, context);
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::setAsyncEventSink(Platform::Recipient* window, uint32_t message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!window) {
        m_listener.reset();
        return kCVNUsbSuccess;
    }
    if (m_listener)
        return kCVNUsbError;
    m_listener.reset(new (std::nothrow) AsyncEventListener(this, window, message));
    if (!m_listener)
        return kCVNUsbError;
    // Requests that ended before there was anyone to tell.
    for (AsyncRequest* request : m_pending) {
        if (request->overlapped.isSignalled() && !request->posted)
            request->posted = m_listener->post(request->event());
    }
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBInterface::dispatchAsyncEvent(CVNUsbEvent event, IUSBInterface* interface)
{
    if (interface != this)
        return kCVNUsbError;
    return completeAsyncRequest(event) == kCVNUsbSuccess ? kCVNUsbSuccess : kCVNUsbError;
}

} // namespace USB
} // namespace CVN
